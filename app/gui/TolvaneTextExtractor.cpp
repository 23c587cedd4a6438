// tolvane-text-extractor: the desktop program.
//
//   tolvane-text-extractor [FILE...]
//
// Opens the last existing FILE given (as a drop on the window would), so that the program works
// from a file manager's "Open with". The settings are the user's stored ones.
//
//   tolvane-text-extractor --screenshot PNG FILE
//
// Not for users: opens FILE with the default settings (the stored ones are neither read nor
// written), runs an extraction into the temporary folder, saves a picture of the window as PNG
// and quits. Meant for QT_QPA_PLATFORM=offscreen; it makes docs/screenshot.png.

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include "Settings.h"
#include "main.h"

namespace {

// The last argument that is an existing file, else the last argument (whose opening then says
// that it cannot be loaded); empty without arguments.
QString fileToOpen(const QStringList& files) {
    for (qsizetype i = files.size() - 1; i >= 0; --i)
        if (QFileInfo(files[i]).isFile())
            return QFileInfo(files[i]).absoluteFilePath();
    return files.isEmpty() ? QString() : QFileInfo(files.constLast()).absoluteFilePath();
}

int takeScreenshot(tolvane::TfrmMain& window, const QString& picture, const QString& file) {
    tolvane::TMainDialogs& dialogs = window.Dialogs();
    dialogs.AskSaveFile = [](const QString& suggested) -> std::optional<QString> {
        return QDir::temp().filePath(QFileInfo(suggested).fileName());
    };
    dialogs.AskYesNo = [](const QString&) { return false; };
    dialogs.ShellOpen = [](const QUrl&) {};
    dialogs.RememberFolder = [](const QString&) {};
    dialogs.AskPassword = [](const QString&, const QString&) { return std::nullopt; };
    int status = 1;
    dialogs.ShowError = [&status](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        status = 2;
    };
    window.show();
    window.OpenPdfFile(file);
    if (window.CurrentFile().isEmpty()) {
        std::fprintf(stderr, "Can not open %s\n", qPrintable(file));
        return 2;
    }
    window.aExtractExecute();
    QApplication::processEvents();
    if (status == 2)
        return status;
    if (!window.grab().save(picture, "PNG")) {
        std::fprintf(stderr, "Can not write %s\n", qPrintable(picture));
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tolvane-text-extractor"));
    QApplication::setOrganizationName(QStringLiteral("Tolvane"));

    QApplication::setApplicationVersion(QStringLiteral(TOLVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tolvane Text Extractor: the text of the chosen pages of a PDF file into a plain text "
        "file, in content order, in rows or with positions, from a window."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Picture of the window after a run."),
                                        QStringLiteral("PNG"));
    screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshotOption);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("PDF file to open: the last one that exists."),
                                 QStringLiteral("[FILE...]"));
    parser.process(application);
    QStringList arguments = parser.positionalArguments();
    const QString screenshot = parser.value(screenshotOption);

    tolvane::TSettings settings;
    if (!screenshot.isEmpty()) {
        if (arguments.size() != 1) {
            std::fprintf(stderr, "usage: tolvane-text-extractor --screenshot PNG FILE\n");
            return 1;
        }
        tolvane::TfrmMain window(settings);
        return takeScreenshot(window, screenshot, arguments[0]); // the path as given, for the log
    }

    settings.Load();
    tolvane::TfrmMain window(settings);
    window.show();
    const QString file = fileToOpen(arguments);
    if (!file.isEmpty()) // once the window is up, so a password prompt has its parent on screen
        QTimer::singleShot(0, &window, [&window, file]() { window.OpenPdfFile(file); });
    return QApplication::exec();
}
