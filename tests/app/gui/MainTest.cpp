// The main window: its first state, the commands' states across opening and a run (Stop
// pressed while the run lets events through), closing refused while running, dropped files,
// the log, and errors shown once the commands are idle again. The run's own logic is the
// core's and tested there.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTemporaryDir>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "Extraction.h"
#include "GuiTestSupport.h"
#include "Settings.h"
#include "main.h"
#include "services.h"
#include "support/PdfWriter.h"

using namespace tolvane;

QT_BEGIN_NAMESPACE
// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '"' << list.join("|").toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

std::string pagesPdf(int pages, const tolvane_test::SimpleDocOptions& options = {}) {
    std::vector<std::string> contents;
    for (int i = 1; i <= pages; ++i)
        contents.push_back("BT /F1 12 Tf 72 720 Td (Page " + std::to_string(i) + ") Tj ET\n");
    return tolvane_test::MakeSimplePdf(contents, options);
}

std::string readBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The commands' enabled states as "Open Option Extract Stop", 1 enabled, 0 disabled.
std::string states(const TfrmMain& w) {
    std::string s;
    for (const QAction* a : {w.aOpenFile, w.aOption, w.aExtract, w.aStop})
        s += a->isEnabled() ? '1' : '0';
    return s;
}

class MainTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        Settings.SetFooter("");
        Settings.SetTextType(0);
        Window = std::make_unique<TfrmMain>(Settings);
        TMainDialogs& d = Window->Dialogs();
        d.AskOpenFile = [this](const QString& folder) {
            OpenFolder = folder;
            return ToOpen;
        };
        d.AskSaveFile = [this](const QString& suggested) -> std::optional<QString> {
            Suggested = suggested;
            return Output;
        };
        d.AskPassword = [this](const QString& prompt, const QString& caption) {
            Prompts.push_back((prompt + "|" + caption).toStdString());
            return std::optional<QString>();
        };
        d.AskYesNo = [this](const QString& question) {
            Questions.push_back(question.toStdString());
            return AnswerYes;
        };
        d.ShowError = [this](const QString& message) {
            Errors.push_back(message.toStdString());
            StatesAtError = states(*Window);
            RunningAtError = Window->Running();
        };
        d.ShellOpen = [this](const QUrl& address) { Opened.push_back(address); };
    }

    QString Write(const char* name, const std::string& bytes) const {
        const QString path = FDir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }
    QStringList LogLines() const { return Window->mLog->toPlainText().split('\n'); }
    // Drags the files over the window and, when the window takes them, drops them; true when
    // the drag was taken.
    bool Drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(Window.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Window.get(), &drop);
        return drop.isAccepted();
    }

    QTemporaryDir FDir;
    TSettings Settings;
    std::unique_ptr<TfrmMain> Window;
    std::optional<QString> ToOpen, Output;
    QString Suggested, OpenFolder;
    bool AnswerYes = false;
    std::vector<std::string> Prompts, Questions, Errors;
    std::string StatesAtError;
    bool RunningAtError = true;
    std::vector<QUrl> Opened;
};

} // namespace

TEST_F(MainTest, StartsIdleWithoutFile) {
    EXPECT_EQ(Window->windowTitle(), "Tolvane Text Extractor");
    EXPECT_EQ(Window->size(), QSize(Scaled(562), Scaled(369)));
    EXPECT_EQ(Window->minimumSize(), QSize(Scaled(400), Scaled(300)));
    EXPECT_EQ(Window->font(), QApplication::font()) << "the desktop's font, not a Windows face";
    EXPECT_FALSE(Window->pbProgress->isVisible());
    EXPECT_EQ(states(*Window), "1100");
    EXPECT_TRUE(Window->aHelp->isEnabled());
    EXPECT_TRUE(Window->aMoreTools->isEnabled());
    EXPECT_TRUE(Window->mLog->isReadOnly());
    EXPECT_EQ(Window->mLog->toPlainText(), "");
    EXPECT_EQ(Window->mLog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Window->mLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(Window->acceptDrops());
}

TEST_F(MainTest, ToolBarHoldsTheCommandsWithCaptionsUnderIcons) {
    QStringList captions;
    for (QAction* action : Window->ToolBar1->actions()) {
        if (action->isSeparator()) {
            captions << "|";
            continue;
        }
        captions << action->text();
        auto* button = qobject_cast<QToolButton*>(Window->ToolBar1->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->size(), QSize(Scaled(72), Scaled(52)));
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(captions, (QStringList{"&Open ...", "O&ption", "&Extract text", "&Stop", "|", "&Help",
                                     "More Tools"}));
    EXPECT_EQ(Window->ToolBar1->iconSize(), QSize(32, 32));
    EXPECT_EQ(Window->ToolBar1->height(), Scaled(54));
}

TEST_F(MainTest, ShortcutsAreInTheTooltipsAndTabReachesTheButtons) {
    const std::pair<QAction*, QKeySequence> shortcuts[] = {
        {Window->aOpenFile, QKeySequence("Ctrl+O")}, {Window->aExtract, QKeySequence("Ctrl+E")},
        {Window->aStop, QKeySequence("Esc")},        {Window->aHelp, QKeySequence("F1")},
        {Window->aQuit, QKeySequence("Ctrl+Q")},     {Window->aOption, QKeySequence()},
        {Window->aMoreTools, QKeySequence()}};
    for (const auto& [action, keys] : shortcuts) {
        EXPECT_EQ(action->shortcut(), keys) << action->objectName().toStdString();
        if (!keys.isEmpty() && action != Window->aQuit) {
            EXPECT_TRUE(action->toolTip().endsWith(
                "(" + keys.toString(QKeySequence::NativeText) + ")"))
                << action->toolTip().toStdString();
        }
    }
    // Extract and Stop are disabled without a file: Tab passes them by.
    QWidget* open = Window->ToolBar1->widgetForAction(Window->aOpenFile);
    const std::vector<QWidget*> order = tolvane_gui_test::TabOrder(open);
    EXPECT_EQ(order, (std::vector<QWidget*>{open,
                                            Window->ToolBar1->widgetForAction(Window->aOption),
                                            Window->ToolBar1->widgetForAction(Window->aHelp),
                                            Window->ToolBar1->widgetForAction(Window->aMoreTools),
                                            Window->mLog}));
}

TEST_F(MainTest, OpeningAFileEnablesExtractAndLogsIt) {
    ToOpen = Write("three.pdf", pagesPdf(3));
    Window->aOpenFile->trigger();
    EXPECT_EQ(Window->CurrentFile(), *ToOpen);
    EXPECT_EQ(Window->windowTitle(), "three.pdf \u2014 Tolvane Text Extractor");
    EXPECT_EQ(states(*Window), "1110");
    EXPECT_EQ(LogLines(), (QStringList{"Current file is: " + *ToOpen, " Pages: 3",
                                       " Press Extract button to extract text", ""}));
}

TEST_F(MainTest, CancelledOpenDialogChangesNothing) {
    Window->aOpenFile->trigger();
    EXPECT_EQ(states(*Window), "1100");
    EXPECT_EQ(Window->mLog->toPlainText(), "");
}

TEST_F(MainTest, AFileThatDoesNotLoadLeavesExtractDisabled) {
    Window->OpenPdfFile(Write("good.pdf", pagesPdf(1)));
    const QString bad = Write("bad.pdf", "not a PDF");
    Window->OpenPdfFile(bad);
    EXPECT_EQ(states(*Window), "1100");
    EXPECT_EQ(Window->windowTitle(), "Tolvane Text Extractor");
    EXPECT_EQ(
        LogLines().mid(4),
        (QStringList{"Can not load file: " + bad + ". It is may be not a valid PDF file.", ""}));
}

TEST_F(MainTest, PasswordIsAskedWithTheFileNameAndCancelLeavesNoFile) {
    tolvane_test::SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption.UserPassword = "pw";
    Window->OpenPdfFile(Write("locked.pdf", pagesPdf(2, options)));
    EXPECT_EQ(Prompts, std::vector<std::string>{"\"locked.pdf\" needs password to open:|Password"});
    EXPECT_EQ(states(*Window), "1100");
}

TEST_F(MainTest, RunDisablesCommandsRefusesClosingAndStopsOnStop) {
    const QString pdf = Write("five.pdf", pagesPdf(5));
    Window->show();
    // Keys reach an active window only (an X server without a window manager activates none).
    const bool canActivate = QTest::qWaitForWindowActive(Window.get());
    Window->OpenPdfFile(pdf);
    Output = FDir.filePath("five.txt");
    std::string during;
    bool closed = true;
    QString currentAfterDrop;
    bool dropTaken = true;
    // Runs inside the first page's progress, where the run lets pending events through.
    bool active = false;
    QTimer::singleShot(0, Window.get(), [&]() {
        during = states(*Window);
        active = QApplication::activeWindow() == Window.get();
        QTest::keySequence(Window.get(), QKeySequence("Ctrl+Q"));
        closed = !Window->isVisible() || Window->close();
        dropTaken = Drop({Write("other.pdf", pagesPdf(1))});
        currentAfterDrop = Window->CurrentFile();
        if (canActivate)
            QTest::keyClick(Window.get(), Qt::Key_Escape); // Stop
        else
            Window->aStop->trigger();
    });
    Window->aExtract->trigger();

    EXPECT_EQ(during, "0001");
    EXPECT_TRUE(active || !canActivate) << "the window is active again after the save dialog";
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(dropTaken);
    EXPECT_EQ(currentAfterDrop, pdf) << "a drop during a run is not opened";
    EXPECT_EQ(states(*Window), "1110");
    EXPECT_FALSE(Window->Running());
    EXPECT_EQ(Suggested, FDir.filePath("five.txt"));
    EXPECT_TRUE(Questions.empty()) << "a stopped run asks nothing";
    const QStringList log = LogLines();
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(
        log.mid(log.size() - 3),
        (QStringList{"Extracting page 1. Press Stop button to terminate", "User teminate", ""}));
    EXPECT_EQ(readBytes(*Output), "Page 1\r\n");
    EXPECT_TRUE(Window->close()) << "idle again: closing is allowed";
}

TEST_F(MainTest, FinishedRunCountsPagesInOneLineAndOffersTheResult) {
    const QString pdf = Write("three.pdf", pagesPdf(3));
    Window->OpenPdfFile(pdf);
    Output = FDir.filePath("out.txt");
    AnswerYes = true;
    Window->aExtract->trigger();
    EXPECT_EQ(LogLines().mid(4),
              (QStringList{"Begin to extract from " + pdf + " to " + *Output, " Page from 1 to 3",
                           "Extracting page 3. Press Stop button to terminate",
                           "Extraction finished", ""}));
    EXPECT_EQ(Questions, std::vector<std::string>{"Do you want to open the destination file?"});
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], QUrl::fromLocalFile(*Output));
    EXPECT_EQ(readBytes(*Output), "Page 1\r\nPage 2\r\nPage 3\r\n");
}

TEST_F(MainTest, CancelledSaveDialogLeavesTheWindowIdle) {
    Window->OpenPdfFile(Write("one.pdf", pagesPdf(1)));
    const QString logBefore = Window->mLog->toPlainText();
    Window->aExtract->trigger();
    EXPECT_EQ(states(*Window), "1110");
    EXPECT_EQ(Window->mLog->toPlainText(), logBefore);
}

TEST_F(MainTest, RunErrorIsShownOnceTheCommandsAreIdle) {
    Window->OpenPdfFile(Write("two.pdf", pagesPdf(2)));
    Settings.SetRangeKind(3);
    Output = FDir.filePath("two.txt");
    Window->aExtract->trigger();
    EXPECT_EQ(Errors, std::vector<std::string>{"INNER ERROR: Error page range type"});
    EXPECT_EQ(StatesAtError, "1110");
    EXPECT_FALSE(RunningAtError);
    EXPECT_FALSE(QFile::exists(*Output));
}

TEST_F(MainTest, OptionWithSettingsItCannotShowReportsAnInnerError) {
    // The window's own option dialog, which throws before it would be shown.
    Settings.SetRangeKind(0);
    Window->aOption->trigger();
    EXPECT_EQ(Errors, std::vector<std::string>{"INNER ERROR: Error page range type"});
}

TEST_F(MainTest, DropOpensTheLastExistingFile) {
    const QString second = Write("second.pdf", pagesPdf(2));
    EXPECT_TRUE(Drop({FDir.filePath("missing.pdf"), second}));
    EXPECT_EQ(Window->CurrentFile(), second);

    const QString first = Write("first.pdf", pagesPdf(1));
    Drop({first, FDir.filePath("gone.pdf")});
    EXPECT_EQ(Window->CurrentFile(), first) << "the last existing one, not the last one";
}

TEST_F(MainTest, DropOfNoExistingFileOpensNothing) {
    Drop({FDir.filePath("missing.pdf"), FDir.path()});
    EXPECT_EQ(Window->CurrentFile(), "");
    EXPECT_EQ(Window->mLog->toPlainText(), "");
}

TEST_F(MainTest, LogBreaksCrLfAndAddsAnEmptyLineAfterAMessage) {
    Window->AddLog("one\r\ntwo");
    Window->AddLog("");
    Window->AddLog("three");
    EXPECT_EQ(LogLines(), (QStringList{"one", "two", "", "", "three", ""}));
    Window->ShowProgress(7);
    EXPECT_EQ(LogLines(), (QStringList{"one", "two", "", "", "three",
                                       "Extracting page 7. Press Stop button to terminate"}));
}

TEST_F(MainTest, HelpAndMoreToolsOpenTheDocumentation) {
    Window->aHelp->trigger();
    Window->aMoreTools->trigger();
    ASSERT_EQ(Opened.size(), 2u);
    // Made from the README at build time, beside the program as when installed.
    EXPECT_EQ(QFileInfo(Opened[0].toLocalFile()).fileName(), "README.html");
    EXPECT_EQ(QFileInfo(Opened[1].toLocalFile()).fileName(), "more-tools.html");
    QFile help(Opened[0].toLocalFile()), moreTools(Opened[1].toLocalFile());
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    ASSERT_TRUE(moreTools.open(QIODevice::ReadOnly));
    EXPECT_TRUE(help.readAll().contains("<h2 id=\"command-line\">"));
    EXPECT_TRUE(moreTools.readAll().contains("url=README.html#command-line"));
}

TEST_F(MainTest, TheFolderUsedLastIsKeptAcrossARestart) {
    tolvane_gui_test::ClearStoredSettings();
    QTemporaryDir other;
    ToOpen = Write("three.pdf", pagesPdf(3));
    Window->aOpenFile->trigger();
    Output = QDir(other.path()).filePath("three.txt");
    Window->aExtract->trigger();

    TSettings restarted;
    restarted.Load();
    EXPECT_EQ(QString::fromStdString(restarted.LastFolder()), other.path()) << "the folder of the saved file";
    TfrmMain window(restarted);
    window.Dialogs().AskOpenFile = [this](const QString& folder) {
        OpenFolder = folder;
        return std::optional<QString>();
    };
    window.aOpenFile->trigger();
    EXPECT_EQ(OpenFolder, other.path());
    EXPECT_EQ(tolvane_gui_test::StoredSettingNames().size(), 0) << "not one of the seven";
}

// 50 pages, range 3 to 50, even pages: the bar counts the 24 pages taken.
TEST_F(MainTest, ProgressBarCountsThePagesOfTheSelectionDuringARun) {
    Window->show();
    Window->OpenPdfFile(Write("fifty.pdf", pagesPdf(50)));
    Settings.SetRangeKind(2);
    Settings.SetFirstPage(3);
    Settings.SetPageFilter(3);
    Output = FDir.filePath("fifty.txt");
    std::vector<int> values;
    int maximum = -1;
    bool alwaysVisible = true;
    QTimer probe; // fires each time the run lets events through
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&]() {
        if (!Window->Running())
            return;
        values.push_back(Window->pbProgress->value());
        maximum = Window->pbProgress->maximum();
        alwaysVisible = alwaysVisible && Window->pbProgress->isVisible();
    });
    probe.start();
    Window->aExtract->trigger();
    probe.stop();

    EXPECT_EQ(maximum, 24);
    EXPECT_TRUE(alwaysVisible);
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), 24);
    EXPECT_FALSE(Window->pbProgress->isVisible()) << "hidden when idle";
}

TEST_F(MainTest, FocusComesBackToTheWindowWhenADialogCloses) {
    Window->show();
    if (!QTest::qWaitForWindowActive(Window.get()))
        GTEST_SKIP() << "no window manager activates windows here";
    QWidget other;
    Window->Dialogs().ShowOption = [&other]() {
        other.show();
        other.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
    };
    Window->aOption->trigger();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Window.get(), 1000));
    EXPECT_EQ(QApplication::activeWindow(), Window.get());
}
