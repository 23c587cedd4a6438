// The main window: its first state, the commands' states across opening and a run (Stop
// pressed while the run lets events through), closing refused while running, dropped files,
// the log, and errors shown once the commands are idle again. The run's own logic is the
// core's and tested there.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <fstream>
#include <iterator>

#include "Extraction.h"
#include "GuiTestSupport.h"
#include "Settings.h"
#include "main.h"
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
        d.AskOpenFile = [this]() { return ToOpen; };
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
    QString Suggested;
    bool AnswerYes = false;
    std::vector<std::string> Prompts, Questions, Errors;
    std::string StatesAtError;
    bool RunningAtError = true;
    std::vector<QUrl> Opened;
};

} // namespace

TEST_F(MainTest, StartsIdleWithoutFile) {
    EXPECT_EQ(Window->windowTitle(), "Tolvane Text Extractor");
    EXPECT_EQ(Window->size(), QSize(562, 369));
    EXPECT_EQ(Window->minimumSize(), QSize(400, 300));
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
        EXPECT_EQ(button->size(), QSize(72, 52));
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(captions, (QStringList{"&Open ...", "O&ption", "&Extract text", "&Stop", "|", "&Help",
                                     "More Tools"}));
    EXPECT_EQ(Window->ToolBar1->iconSize(), QSize(32, 32));
    EXPECT_EQ(Window->ToolBar1->height(), 54);
}

TEST_F(MainTest, OpeningAFileEnablesExtractAndLogsIt) {
    ToOpen = Write("three.pdf", pagesPdf(3));
    Window->aOpenFile->trigger();
    EXPECT_EQ(Window->CurrentFile(), *ToOpen);
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
    Window->OpenPdfFile(pdf);
    Output = FDir.filePath("five.txt");
    std::string during;
    bool closed = true;
    QString currentAfterDrop;
    bool dropTaken = true;
    // Runs inside the first page's progress, where the run lets pending events through.
    QTimer::singleShot(0, Window.get(), [&]() {
        during = states(*Window);
        closed = Window->close();
        dropTaken = Drop({Write("other.pdf", pagesPdf(1))});
        currentAfterDrop = Window->CurrentFile();
        Window->aStop->trigger();
    });
    Window->aExtract->trigger();

    EXPECT_EQ(during, "0001");
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
    EXPECT_TRUE(Opened[0].isLocalFile());
    EXPECT_TRUE(Opened[0].path().endsWith("/README.md"));
    EXPECT_TRUE(QFile::exists(Opened[0].toLocalFile()));
    EXPECT_EQ(Opened[1].fragment(), "command-line");
}
