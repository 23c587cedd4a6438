#include "services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "InputString.h"

#ifndef TOLVANE_SOURCE_DIR
#define TOLVANE_SOURCE_DIR "."
#endif

namespace tolvane {

const QString& ApplicationTitle() {
    static const QString title = QStringLiteral("Tolvane Text Extractor");
    return title;
}

double FormScale() {
    // 13 pixels: the line height of the 8-point face at 96 dots per inch.
    const int lineHeight = QFontMetrics(QApplication::font()).height();
    return std::max(1.0, lineHeight / 13.0);
}

int Scaled(int length) {
    return static_cast<int>(std::lround(length * FormScale()));
}

void SetScaledGeometry(QWidget& control, int x, int y, int width, int height) {
    control.setGeometry(Scaled(x), Scaled(y), Scaled(width), Scaled(height));
}

void CenterOnScreen(QWidget& form) {
    const QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    // Integer division toward zero, also when the form is larger than the screen.
    form.move(area.x() + (area.width() - form.width()) / 2,
              area.y() + (area.height() - form.height()) / 2);
}

bool AskYesNo(const QString& text, QWidget* parent) {
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void ShowErrorBox(const QString& message, QWidget* parent) {
    QMessageBox::critical(parent, ApplicationTitle(), message);
}

void ShellOpen(const QString& fileOrAddress, std::function<void(const QString&)> failed) {
    // A path is a local file even when it holds a colon; only "scheme:..." text that is no
    // existing file is taken as an address.
    const QUrl address(fileOrAddress);
    const bool isAddress = !address.scheme().isEmpty() && address.scheme().size() > 1 &&
                           !QFileInfo::exists(fileOrAddress);
    const QUrl target = isAddress ? address : QUrl::fromLocalFile(fileOrAddress);
    const QString shown = isAddress ? fileOrAddress : QFileInfo(fileOrAddress).absoluteFilePath();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // xdg-open tells by its exit status whether a program took the file; the desktop services
    // only tell whether xdg-open started.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        // Not parented: a program xdg-open waits for is not killed when the window closes.
        auto* process = new QProcess;
        process->setProgram(opener);
        process->setArguments({isAddress ? fileOrAddress : shown});
        process->setWorkingDirectory(QCoreApplication::applicationDirPath());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::finished, process,
                         [process, failed, shown](int code, QProcess::ExitStatus status) {
                             if ((code != 0 || status != QProcess::NormalExit) && failed)
                                 failed(QStringLiteral("Can not open %1: the desktop has no "
                                                       "program for it (xdg-open ended with "
                                                       "status %2).")
                                            .arg(shown, QString::number(code)));
                             process->deleteLater();
                         });
        QObject::connect(process, &QProcess::errorOccurred, process,
                         [process, failed, shown](QProcess::ProcessError error) {
                             if (error != QProcess::FailedToStart)
                                 return;
                             if (failed)
                                 failed(QStringLiteral("Can not open %1: xdg-open did not start.")
                                            .arg(shown));
                             process->deleteLater();
                         });
        process->start();
        return;
    }
#endif
    if (!QDesktopServices::openUrl(target) && failed)
        failed(QStringLiteral("Can not open %1: the desktop has no program for it.").arg(shown));
}

bool AskString(QString& value, const QString& prompt, const QString& initialText, bool hidden,
               const QString& caption, QWidget* parent) {
    TFrmInputString form(prompt, initialText, hidden, caption, parent);
    const bool ok = form.exec() == QDialog::Accepted;
    value = form.Edit1->text();
    return ok;
}

namespace {

// A page of the help beside the program (bin/../share/doc/tolvane-text-extractor), else the
// README of the source tree the program was built from.
QUrl helpPage(const QString& name) {
    const QString beside = QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/doc/tolvane-text-extractor/") + name;
    if (QFileInfo::exists(beside))
        return QUrl::fromLocalFile(QFileInfo(beside).canonicalFilePath());
    return QUrl::fromLocalFile(QStringLiteral(TOLVANE_SOURCE_DIR "/README.md"));
}

} // namespace

QUrl HelpAddress() {
    return helpPage(QStringLiteral("README.html"));
}

QUrl MoreToolsAddress() {
    return helpPage(QStringLiteral("more-tools.html"));
}

} // namespace tolvane
