#include "services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWidget>

#include "InputString.h"

#ifndef TOLVANE_SOURCE_DIR
#define TOLVANE_SOURCE_DIR "."
#endif

namespace tolvane {

const QString& ApplicationTitle() {
    static const QString title = QStringLiteral("Tolvane Text Extractor");
    return title;
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

bool ShellOpen(const QString& fileOrAddress) {
    // A path is a local file even when it holds a colon; only "scheme:..." text that is no
    // existing file is taken as an address.
    const QUrl address(fileOrAddress);
    const bool isAddress = !address.scheme().isEmpty() && address.scheme().size() > 1 &&
                           !QFileInfo::exists(fileOrAddress);
    return QDesktopServices::openUrl(isAddress ? address : QUrl::fromLocalFile(fileOrAddress));
}

bool AskString(QString& value, const QString& prompt, const QString& initialText, bool hidden,
               const QString& caption, QWidget* parent) {
    TFrmInputString form(prompt, initialText, hidden, caption, parent);
    const bool ok = form.exec() == QDialog::Accepted;
    value = form.Edit1->text();
    return ok;
}

namespace {

// The README installed beside the program (bin/../share/doc/tolvane-text-extractor), else the
// one of the source tree the program was built from.
QString readmePath() {
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../share/doc/tolvane-text-extractor/README.md");
    if (QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
    return QStringLiteral(TOLVANE_SOURCE_DIR "/README.md");
}

} // namespace

QUrl HelpAddress() {
    return QUrl::fromLocalFile(readmePath());
}

QUrl MoreToolsAddress() {
    QUrl address = QUrl::fromLocalFile(readmePath());
    address.setFragment(QStringLiteral("command-line"));
    return address;
}

} // namespace tolvane
