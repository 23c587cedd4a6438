#include "main.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "Extraction.h"
#include "Settings.h"
#include "option.h"
#include "services.h"

// The icons live in the library's resources; a static library needs them registered by hand.
static void initGuiResources() {
    Q_INIT_RESOURCE(gui);
}

namespace tolvane {

namespace {

constexpr int kWidth = 562;
constexpr int kHeight = 369;
constexpr int kMinWidth = 400;
constexpr int kMinHeight = 300;
constexpr int kToolBarHeight = 54;
constexpr QSize kButtonSize(72, 52);
constexpr QSize kIconSize(32, 32);

// A command with its caption under its icon, its shortcut (none when empty) and a tooltip that
// says what it does and names the shortcut.
QAction* makeAction(QObject* owner, const char* name, const QString& caption, const char* icon,
                    const QString& tip, const QKeySequence& shortcut = {}) {
    auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.png").arg(icon)), caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setIconText(caption); // the caption under the icon, "..." and all
    action->setShortcut(shortcut);
    action->setToolTip(shortcut.isEmpty()
                           ? tip
                           : QStringLiteral("%1 (%2)").arg(
                                 tip, shortcut.toString(QKeySequence::NativeText)));
    return action;
}

// The pages from `first` to `last` that a page filter takes (1 all, 2 odd, 3 even; others none).
std::int64_t pagesTaken(std::int64_t first, std::int64_t last, int filter) {
    if (last < first)
        return 0;
    switch (filter) {
    case 1:
        return last - first + 1;
    case 2: // odd numbers up to last, less those below first
        return (last + 1) / 2 - first / 2;
    case 3:
        return last / 2 - (first - 1) / 2;
    default:
        return 0;
    }
}

TMainDialogs defaultDialogs(TfrmMain& window, TSettings& settings) {
    TMainDialogs dialogs;
    dialogs.AskOpenFile = [&window](const QString& folder) -> std::optional<QString> {
        // "All File" is "*": on Linux "*.*" would hide files without an extension.
        const QString path = QFileDialog::getOpenFileName(
            &window, QString(), folder, QStringLiteral("PDF File (*.pdf);;All File (*)"));
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
    dialogs.AskSaveFile = [&window](const QString& suggested) -> std::optional<QString> {
        QFileDialog dialog(&window);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(
            {QStringLiteral("Text File (*.txt)"), QStringLiteral("All File (*)")});
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        dialog.setDirectory(QFileInfo(suggested).absolutePath());
        dialog.selectFile(QFileInfo(suggested).fileName());
        // Asking before overwriting is the dialog's default.
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    };
    dialogs.AskPassword = [&window](const QString& prompt,
                                    const QString& caption) -> std::optional<QString> {
        QString value;
        if (!AskString(value, prompt, QString(), true, caption, &window))
            return std::nullopt;
        return value;
    };
    dialogs.AskYesNo = [&window](const QString& question) { return AskYesNo(question, &window); };
    dialogs.ShowError = [&window](const QString& message) { ShowErrorBox(message, &window); };
    dialogs.ShellOpen = [&window](const QUrl& address) {
        // The opener may fail after the window has gone.
        QPointer<TfrmMain> alive(&window);
        ShellOpen(address.isLocalFile() && !address.hasFragment() ? address.toLocalFile()
                                                                  : address.toString(),
                  [alive](const QString& message) {
                      if (alive)
                          alive->Dialogs().ShowError(message);
                  });
    };
    dialogs.ShowOption = [&window, &settings]() {
        TfrmOption form(settings, &window);
        form.exec();
    };
    dialogs.RememberFolder = [&settings](const QString& folder) {
        settings.SaveLastFolder(folder.toStdString());
    };
    return dialogs;
}

} // namespace

TfrmMain::TfrmMain(TSettings& settings, QWidget* parent)
    : QMainWindow(parent), FSettings(settings) {
    initGuiResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ApplicationTitle());
    setWindowIcon(QIcon(QStringLiteral(":/icons/tolvane-text-extractor.png")));
    // The application's font (the desktop's); the sizes grow with it.
    setMinimumSize(Scaled(kMinWidth), Scaled(kMinHeight));
    resize(Scaled(kWidth), Scaled(kHeight));
    setContextMenuPolicy(Qt::NoContextMenu); // no menu to hide the tool bar

    aOpenFile = makeAction(this, "aOpenFile", QStringLiteral("&Open ..."), "open",
                           QStringLiteral("Open a PDF file"), QKeySequence(Qt::CTRL | Qt::Key_O));
    aOption = makeAction(this, "aOption", QStringLiteral("O&ption"), "option",
                         QStringLiteral("Pages, header, footer and layout of the text"));
    aExtract = makeAction(this, "aExtract", QStringLiteral("&Extract text"), "extract",
                          QStringLiteral("Write the text of the pages into a text file"),
                          QKeySequence(Qt::CTRL | Qt::Key_E));
    aStop = makeAction(this, "aStop", QStringLiteral("&Stop"), "stop",
                       QStringLiteral("Stop the extraction after the current page"),
                       QKeySequence(Qt::Key_Escape));
    aHelp = makeAction(this, "aHelp", QStringLiteral("&Help"), "help",
                       QStringLiteral("How to use the program"), QKeySequence(Qt::Key_F1));
    aMoreTools = makeAction(this, "aMoreTools", QStringLiteral("More Tools"), "moretools",
                            QStringLiteral("The command-line program for many files and scripts"));
    aQuit = new QAction(QStringLiteral("&Quit"), this);
    aQuit->setObjectName(QStringLiteral("aQuit"));
    aQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(aQuit); // no button: the shortcut works anywhere in the window
    connect(aOpenFile, &QAction::triggered, this, &TfrmMain::aOpenFileExecute);
    connect(aOption, &QAction::triggered, this, &TfrmMain::aOptionExecute);
    connect(aExtract, &QAction::triggered, this, &TfrmMain::aExtractExecute);
    connect(aStop, &QAction::triggered, this, &TfrmMain::aStopExecute);
    connect(aHelp, &QAction::triggered, this, &TfrmMain::aHelpExecute);
    connect(aMoreTools, &QAction::triggered, this, &TfrmMain::aMoreToolsExecute);
    connect(aQuit, &QAction::triggered, this, &QWidget::close);

    ToolBar1 = new QToolBar(QStringLiteral("ToolBar1"), this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(Scaled(kToolBarHeight));
    ToolBar1->setIconSize(kIconSize);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    // The buttons take Tab focus (not a click's), so the keyboard reaches every command.
    std::vector<QWidget*> tabChain;
    for (QAction* action : {aOpenFile, aOption, aExtract, aStop, aHelp, aMoreTools}) {
        if (action == aHelp)
            ToolBar1->addSeparator();
        ToolBar1->addAction(action);
        QWidget* button = ToolBar1->widgetForAction(action);
        button->setFixedSize(Scaled(kButtonSize.width()), Scaled(kButtonSize.height()));
        button->setFocusPolicy(Qt::TabFocus);
        tabChain.push_back(button);
    }
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    mLog = new QPlainTextEdit(this);
    mLog->setObjectName(QStringLiteral("mLog"));
    mLog->setReadOnly(true);
    mLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    mLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mLog->setAcceptDrops(false); // files dropped on the log go to the window
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setFormat(QStringLiteral("Page %v of %m"));
    pbProgress->setVisible(false);
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(mLog);
    column->addWidget(pbProgress);
    setCentralWidget(client);
    setAcceptDrops(true);
    tabChain.push_back(mLog);
    for (std::size_t i = 0; i + 1 < tabChain.size(); ++i)
        QWidget::setTabOrder(tabChain[i], tabChain[i + 1]);

    FDialogs = defaultDialogs(*this, settings);
    TExtractionHooks hooks;
    // The core speaks UTF-8 and file-name bytes; the window QString.
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    const auto path = [](const std::string& value) { return QFile::decodeName(value.c_str()); };
    const auto bytes = [](const std::optional<QString>& value) -> std::optional<std::string> {
        if (!value)
            return std::nullopt;
        return QFile::encodeName(*value).toStdString();
    };
    hooks.AskPassword = [this, text](const std::string& prompt, const std::string& caption) {
        const std::optional<QString> typed = FDialogs.AskPassword(text(prompt), text(caption));
        ReturnFocus();
        return typed ? std::optional<std::string>(typed->toStdString()) : std::nullopt;
    };
    hooks.AskSaveFile = [this, path, bytes](const std::string& suggested) {
        // The file's name in the folder used last.
        QString offered = path(suggested);
        const QString last = QString::fromStdString(FSettings.LastFolder());
        if (!last.isEmpty() && QFileInfo(last).isDir())
            offered = QDir(last).filePath(QFileInfo(offered).fileName());
        const std::optional<QString> chosen = FDialogs.AskSaveFile(offered);
        ReturnFocus(); // also after the dialog's own question whether to replace a file
        if (chosen)
            RememberFolderOf(*chosen);
        return bytes(chosen);
    };
    hooks.AddLog = [this, text](const std::string& message) { AddLog(text(message)); };
    hooks.ShowProgress = [this](int page) { ShowProgress(page); };
    hooks.AskYesNo = [this, text](const std::string& question) {
        const bool yes = FDialogs.AskYesNo(text(question));
        ReturnFocus();
        return yes;
    };
    hooks.OpenResult = [this, path](const std::string& result) {
        FDialogs.ShellOpen(QUrl::fromLocalFile(path(result)));
    };
    hooks.ShowError = [this, text](const std::string& message) { ShowError(text(message)); };
    hooks.StateChanged = [this]() { UpdateActions(); };
    FExtraction = std::make_unique<TExtraction>(settings, std::move(hooks));

    mLog->clear();
    UpdateActions();
    CenterOnScreen(*this);
}

TfrmMain::~TfrmMain() = default;

bool TfrmMain::Running() const {
    return FExtraction->Running();
}

QString TfrmMain::CurrentFile() const {
    return QFile::decodeName(FExtraction->CurrentFile().c_str());
}

void TfrmMain::UpdateActions() {
    const bool running = FExtraction && FExtraction->Running();
    const bool haveFile = FExtraction && !FExtraction->CurrentFile().empty();
    aOpenFile->setEnabled(!running);
    aOption->setEnabled(!running);
    aExtract->setEnabled(!running && haveFile);
    aStop->setEnabled(running);
    setWindowTitle(haveFile ? QStringLiteral("%1 \u2014 %2")
                                  .arg(QFileInfo(QFile::decodeName(FExtraction->CurrentFile().c_str())).fileName(),
                                       ApplicationTitle())
                            : ApplicationTitle());
    if (running && !FWasRunning)
        StartProgress();
    else if (!running)
        pbProgress->setVisible(false);
    FWasRunning = running;
}

void TfrmMain::StartProgress() {
    // The run's pages as it will choose them from the settings and the opened page count.
    const std::int64_t count = FExtraction->OpenedPageCount();
    std::int64_t first = 1;
    std::int64_t last = count;
    if (FSettings.RangeKind() == 2) {
        first = std::max<std::int64_t>(FSettings.FirstPage(), 1);
        last = std::min<std::int64_t>(FSettings.LastPage(), count);
    } else if (FSettings.RangeKind() != 1) {
        last = 0;
    }
    FProgressFirst = first;
    FProgressFilter = FSettings.PageFilter();
    pbProgress->setRange(0, static_cast<int>(pagesTaken(first, last, FProgressFilter)));
    pbProgress->setValue(0);
    pbProgress->setVisible(true);
}

void TfrmMain::ShowError(const QString& message) {
    FDialogs.ShowError(message);
    ReturnFocus();
}

void TfrmMain::ReturnFocus() {
    if (isVisible())
        activateWindow();
}

void TfrmMain::RememberFolderOf(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (FDialogs.RememberFolder && folder.toStdString() != FSettings.LastFolder())
        FDialogs.RememberFolder(folder);
}

void TfrmMain::OpenPdfFile(const QString& path) {
    try {
        if (FExtraction->OpenPdfFile(QFile::encodeName(path).toStdString()) ==
            TOpenResult::Opened)
            RememberFolderOf(path);
    } catch (const std::exception& e) { // e.g. out of memory on a huge file: the window stays
        ShowError(QString::fromLocal8Bit(e.what()));
    }
}

void TfrmMain::aOpenFileExecute() {
    const QString folder = QString::fromStdString(FSettings.LastFolder());
    const std::optional<QString> path =
        FDialogs.AskOpenFile(!folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString());
    ReturnFocus();
    if (path)
        OpenPdfFile(*path);
}

void TfrmMain::aOptionExecute() {
    try {
        FDialogs.ShowOption();
        ReturnFocus();
    } catch (const std::exception& e) { // a setting the dialog cannot show
        ShowError(QString::fromUtf8(e.what()));
    }
}

void TfrmMain::aExtractExecute() {
    FExtraction->aExtractExecute();
}

void TfrmMain::aStopExecute() {
    FExtraction->aStopExecute();
}

void TfrmMain::aHelpExecute() {
    FDialogs.ShellOpen(HelpAddress());
}

void TfrmMain::aMoreToolsExecute() {
    FDialogs.ShellOpen(MoreToolsAddress());
}

void TfrmMain::AddLog(const QString& message) {
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mLog->appendPlainText(text);
    if (!message.isEmpty())
        mLog->appendPlainText(QString());
}

void TfrmMain::ShowProgress(int page) {
    QTextCursor cursor(mLog->document()->lastBlock());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(
        QStringLiteral("Extracting page %1. Press Stop button to terminate").arg(page));
    pbProgress->setValue(static_cast<int>(
        std::min<std::int64_t>(pagesTaken(FProgressFirst, page, FProgressFilter),
                               pbProgress->maximum())));
    QCoreApplication::processEvents(); // repaints, and lets Stop through
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (Running())
        event->ignore();
    else
        event->accept();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !Running())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    // A run in progress is not disturbed: what is dropped meanwhile is not opened.
    if (Running()) {
        event->ignore();
        return;
    }
    QString kept;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile())
            kept = path; // the last existing file wins
    }
    event->acceptProposedAction();
    if (!kept.isEmpty())
        OpenPdfFile(kept);
}

} // namespace tolvane
