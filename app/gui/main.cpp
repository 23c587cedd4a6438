#include "main.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <stdexcept>

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

QAction* makeAction(QObject* owner, const char* name, const QString& caption, const char* icon) {
    auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.png").arg(icon)), caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setIconText(caption); // the caption under the icon, "..." and all
    return action;
}

TMainDialogs defaultDialogs(TfrmMain& window, TSettings& settings) {
    TMainDialogs dialogs;
    dialogs.AskOpenFile = [&window]() -> std::optional<QString> {
        // "All File" is "*": on Linux "*.*" would hide files without an extension.
        const QString path = QFileDialog::getOpenFileName(
            &window, QString(), QString(), QStringLiteral("PDF File (*.pdf);;All File (*)"));
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
    dialogs.ShellOpen = [](const QUrl& address) {
        ShellOpen(address.isLocalFile() && !address.hasFragment() ? address.toLocalFile()
                                                                  : address.toString());
    };
    dialogs.ShowOption = [&window, &settings]() {
        TfrmOption form(settings, &window);
        form.exec();
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
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kWidth, kHeight);
    setContextMenuPolicy(Qt::NoContextMenu); // no menu to hide the tool bar

    aOpenFile = makeAction(this, "aOpenFile", QStringLiteral("&Open ..."), "open");
    aOption = makeAction(this, "aOption", QStringLiteral("O&ption"), "option");
    aExtract = makeAction(this, "aExtract", QStringLiteral("&Extract text"), "extract");
    aStop = makeAction(this, "aStop", QStringLiteral("&Stop"), "stop");
    aHelp = makeAction(this, "aHelp", QStringLiteral("&Help"), "help");
    aMoreTools = makeAction(this, "aMoreTools", QStringLiteral("More Tools"), "moretools");
    connect(aOpenFile, &QAction::triggered, this, &TfrmMain::aOpenFileExecute);
    connect(aOption, &QAction::triggered, this, &TfrmMain::aOptionExecute);
    connect(aExtract, &QAction::triggered, this, &TfrmMain::aExtractExecute);
    connect(aStop, &QAction::triggered, this, &TfrmMain::aStopExecute);
    connect(aHelp, &QAction::triggered, this, &TfrmMain::aHelpExecute);
    connect(aMoreTools, &QAction::triggered, this, &TfrmMain::aMoreToolsExecute);

    ToolBar1 = new QToolBar(QStringLiteral("ToolBar1"), this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(kIconSize);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    for (QAction* action : {aOpenFile, aOption, aExtract, aStop}) {
        ToolBar1->addAction(action);
        ToolBar1->widgetForAction(action)->setFixedSize(kButtonSize);
    }
    ToolBar1->addSeparator();
    for (QAction* action : {aHelp, aMoreTools}) {
        ToolBar1->addAction(action);
        ToolBar1->widgetForAction(action)->setFixedSize(kButtonSize);
    }
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    mLog = new QPlainTextEdit(this);
    mLog->setObjectName(QStringLiteral("mLog"));
    mLog->setReadOnly(true);
    mLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    mLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mLog->setAcceptDrops(false); // files dropped on the log go to the window
    setCentralWidget(mLog);
    setAcceptDrops(true);

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
        return typed ? std::optional<std::string>(typed->toStdString()) : std::nullopt;
    };
    hooks.AskSaveFile = [this, path, bytes](const std::string& suggested) {
        return bytes(FDialogs.AskSaveFile(path(suggested)));
    };
    hooks.AddLog = [this, text](const std::string& message) { AddLog(text(message)); };
    hooks.ShowProgress = [this](int page) { ShowProgress(page); };
    hooks.AskYesNo = [this, text](const std::string& question) {
        return FDialogs.AskYesNo(text(question));
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
}

void TfrmMain::ShowError(const QString& message) {
    FDialogs.ShowError(message);
}

void TfrmMain::OpenPdfFile(const QString& path) {
    try {
        FExtraction->OpenPdfFile(QFile::encodeName(path).toStdString());
    } catch (const std::exception& e) { // e.g. out of memory on a huge file: the window stays
        ShowError(QString::fromLocal8Bit(e.what()));
    }
}

void TfrmMain::aOpenFileExecute() {
    if (const std::optional<QString> path = FDialogs.AskOpenFile())
        OpenPdfFile(*path);
}

void TfrmMain::aOptionExecute() {
    try {
        FDialogs.ShowOption();
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
