#pragma once
// The main window: a tool bar of commands (Open, Option, Extract, Stop, Help, More Tools) over a
// read-only log. It holds no extraction logic: the opening of a file and the run are the core's
// (TExtraction); the window answers the core's questions with dialogs, shows its log and
// progress, and keeps the commands' enabled states in step with it. Everything runs on the GUI
// thread: the run lets pending events through after each page, which is how Stop reaches it.

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QUrl;

namespace tolvane {

class TExtraction;
class TSettings;

// The window's dialogs and the desktop services it calls, replaceable so that tests answer
// them instead of a user. Defaults: file dialogs, message boxes, TFrmInputString, the desktop.
struct TMainDialogs {
    // The PDF file to open, starting in this folder (empty: the working one); nullopt when
    // cancelled.
    std::function<std::optional<QString>(const QString& folder)> AskOpenFile;
    // Where to save the text, offering this path (its folder is where the dialog starts);
    // nullopt when cancelled.
    std::function<std::optional<QString>(const QString& suggestedPath)> AskSaveFile;
    std::function<std::optional<QString>(const QString& prompt, const QString& caption)>
        AskPassword;
    std::function<bool(const QString& question)> AskYesNo;
    std::function<void(const QString& message)> ShowError;
    // Opens the file or address with the desktop's program for it; a failure is reported with
    // ShowError.
    std::function<void(const QUrl& address)> ShellOpen;
    // Shows the option dialog modally.
    std::function<void()> ShowOption;
    // Keeps the folder of a file opened or saved for the next file dialog: the settings'
    // SaveLastFolder.
    std::function<void(const QString& folder)> RememberFolder;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(TSettings& settings, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The dialogs in use; replace members before using the window.
    TMainDialogs& Dialogs() { return FDialogs; }

    void OpenPdfFile(const QString& path);
    void aOpenFileExecute();
    void aOptionExecute();
    void aExtractExecute();
    void aStopExecute();
    void aHelpExecute();
    void aMoreToolsExecute();

    // Appends the message as a line (CR LF inside it breaks lines) and, unless it is empty, an
    // empty line after it.
    void AddLog(const QString& message);
    // Writes the progress over the last line of the log, moves the progress bar to the pages of
    // the selection done up to this one, then lets pending events through.
    void ShowProgress(int page);

    bool Running() const;
    QString CurrentFile() const;
    TExtraction& Extraction() { return *FExtraction; }

    QToolBar* ToolBar1;
    QPlainTextEdit* mLog;
    // Under the log during a run: the pages of the selection done, of all it takes.
    QProgressBar* pbProgress;
    QAction* aOpenFile;
    QAction* aOption;
    QAction* aExtract;
    QAction* aStop;
    QAction* aHelp;
    QAction* aMoreTools;
    // Ctrl+Q: closes the window (refused during a run, as closing is); not on the tool bar.
    QAction* aQuit;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void UpdateActions();
    void StartProgress();
    void ShowError(const QString& message);
    // Makes the window the active one again once a dialog has closed.
    void ReturnFocus();
    void RememberFolderOf(const QString& path);

    TSettings& FSettings;
    TMainDialogs FDialogs;
    std::unique_ptr<TExtraction> FExtraction;
    bool FWasRunning = false;
    // The run's selection, for the progress bar: pages first to last through the page filter.
    std::int64_t FProgressFirst = 1;
    int FProgressFilter = 1;
};

} // namespace tolvane
