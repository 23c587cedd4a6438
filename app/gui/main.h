#pragma once
// The main window: a tool bar of commands (Open, Option, Extract, Stop, Help, More Tools) over a
// read-only log. It holds no extraction logic: the opening of a file and the run are the core's
// (TExtraction); the window answers the core's questions with dialogs, shows its log and
// progress, and keeps the commands' enabled states in step with it. Everything runs on the GUI
// thread: the run lets pending events through after each page, which is how Stop reaches it.

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QPlainTextEdit;
class QToolBar;
class QUrl;

namespace tolvane {

class TExtraction;
class TSettings;

// The window's dialogs and the desktop services it calls, replaceable so that tests answer
// them instead of a user. Defaults: file dialogs, message boxes, TFrmInputString, the desktop.
struct TMainDialogs {
    // The PDF file to open; nullopt when cancelled.
    std::function<std::optional<QString>()> AskOpenFile;
    // Where to save the text, offering this path; nullopt when cancelled.
    std::function<std::optional<QString>(const QString& suggestedPath)> AskSaveFile;
    std::function<std::optional<QString>(const QString& prompt, const QString& caption)>
        AskPassword;
    std::function<bool(const QString& question)> AskYesNo;
    std::function<void(const QString& message)> ShowError;
    std::function<void(const QUrl& address)> ShellOpen;
    // Shows the option dialog modally.
    std::function<void()> ShowOption;
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
    // Writes the progress over the last line of the log, then lets pending events through.
    void ShowProgress(int page);

    bool Running() const;
    QString CurrentFile() const;
    TExtraction& Extraction() { return *FExtraction; }

    QToolBar* ToolBar1;
    QPlainTextEdit* mLog;
    QAction* aOpenFile;
    QAction* aOption;
    QAction* aExtract;
    QAction* aStop;
    QAction* aHelp;
    QAction* aMoreTools;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void UpdateActions();
    void ShowError(const QString& message);

    TSettings& FSettings;
    TMainDialogs FDialogs;
    std::unique_ptr<TExtraction> FExtraction;
};

} // namespace tolvane
