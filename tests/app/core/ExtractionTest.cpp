// The opening of a file and the extraction run over PDFs made by the test writer, with the
// window's questions answered by the test and its log recorded.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "Extraction.h"
#include "Settings.h"
#include "support/PdfWriter.h"

using namespace tolvane;

namespace {

// A folder of its own for each test, removed with what it holds.
struct TTemporaryDir {
    TTemporaryDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "extraction-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            Path = pattern;
    }
    ~TTemporaryDir() {
        std::error_code error;
        if (!Path.empty())
            std::filesystem::remove_all(Path, error);
    }
    bool isValid() const { return !Path.empty(); }
    const std::string& path() const { return Path; }
    std::string Path;
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string pagesPdf(int pages, const tolvane_test::SimpleDocOptions& options = {}) {
    std::vector<std::string> contents;
    for (int i = 1; i <= pages; ++i)
        contents.push_back("BT /F1 12 Tf 72 720 Td (Page " + std::to_string(i) + ") Tj ET\n");
    return tolvane_test::MakeSimplePdf(contents, options);
}

std::string encryptedPdf(const std::string& password, int pages = 2) {
    tolvane_test::SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption.UserPassword = password;
    options.Encryption.OwnerPassword = "owner-" + password;
    return pagesPdf(pages, options);
}

class ExtractionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        Hooks.AddLog = [this](const std::string& m) { Log.push_back(m); };
        Hooks.ShowError = [this](const std::string& m) { Errors.push_back(m); };
        Hooks.ShowProgress = [this](int page) {
            Progress.push_back(page);
            if (page == StopAtPage)
                Run->aStopExecute();
        };
        Hooks.AskPassword = [this](const std::string& prompt, const std::string& caption) {
            Prompts.push_back(prompt + "|" + caption);
            std::optional<std::string> answer;
            if (!Passwords.empty()) {
                answer = Passwords.front();
                Passwords.erase(Passwords.begin());
            }
            return answer;
        };
        Hooks.AskSaveFile = [this](const std::string& suggested) -> std::optional<std::string> {
            Suggested = suggested;
            return Output;
        };
        Hooks.AskYesNo = [this](const std::string& q) {
            Questions.push_back(q);
            return true;
        };
        Hooks.OpenResult = [this](const std::string& path) { Opened = path; };
        Settings.SetFooter("");
        Settings.SetTextType(0);
    }

    std::string Path(const char* name) const { return FDir.path() + "/" + name; }
    std::string Write(const char* name, const std::string& bytes) const {
        writeBytes(Path(name), bytes);
        return Path(name);
    }
    TExtraction& Make() {
        Run = std::make_unique<TExtraction>(Settings, Hooks);
        return *Run;
    }
    // The engine's own text of one page, for the expected output.
    std::string PageText(const std::string& file, int page) {
        korvel::TKorvel engine;
        engine.LoadFromFile(file);
        engine.SelectPage(page);
        return engine.GetPageText(0);
    }
    std::string Pages(const std::string& file, std::initializer_list<int> pages) {
        std::string text;
        for (const int p : pages)
            text += PageText(file, p) + "\r\n";
        return text;
    }

    TTemporaryDir FDir;
    TSettings Settings;
    TExtractionHooks Hooks;
    std::unique_ptr<TExtraction> Run;
    std::vector<std::string> Log, Errors, Prompts, Questions, Passwords;
    std::vector<int> Progress;
    int StopAtPage = -1;
    std::optional<std::string> Output;
    std::string Suggested, Opened;
};

} // namespace

TEST_F(ExtractionTest, OpeningLogsThePagesAndUnloadsTheFile) {
    const std::string pdf = Write("report.pdf", pagesPdf(12));
    TExtraction& run = Make();
    const std::int32_t blank = run.Engine().SelectedDocument();
    Settings.SetFirstPage(3);
    Settings.SetLastPage(4);
    EXPECT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    EXPECT_EQ(Log,
              std::vector<std::string>{"Current file is: " + pdf +
                                       "\r\n Pages: 12\r\n Press Extract button to extract text"});
    EXPECT_EQ(run.CurrentFile(), pdf);
    EXPECT_EQ(run.OpenedPageCount(), 12);
    EXPECT_EQ(Settings.FirstPage(), 1);
    EXPECT_EQ(Settings.LastPage(), 12);
    EXPECT_EQ(run.Engine().SelectedDocument(), blank) << "nothing stays loaded";
    EXPECT_TRUE(Prompts.empty());
}

TEST_F(ExtractionTest, AlreadyOpenedComparesCanonicalPathsExactly) {
    const std::string lower = Write("report.pdf", pagesPdf(1));
    const std::string upper = Write("Report.pdf", pagesPdf(2));
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(lower), TOpenResult::Opened);
    Log.clear();
    EXPECT_EQ(run.OpenPdfFile(FDir.path() + "/./report.pdf"), TOpenResult::AlreadyOpen);
    EXPECT_EQ(Log, std::vector<std::string>{"The requested file have alreadly opened."});
    EXPECT_EQ(run.OpenPdfFile(upper), TOpenResult::Opened) << "another file on Linux";
    EXPECT_EQ(run.OpenedPageCount(), 2);
}

TEST_F(ExtractionTest, FailedOpeningsLeaveNoCurrentFile) {
    const std::string good = Write("good.pdf", pagesPdf(1));
    const std::string junk = Write("junk.pdf", "not a pdf");
    tolvane_test::PdfWriter other;
    other.RootObj = 1;
    other.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    other.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    other.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    other.Set(4, "<< /Filter /SomeoneElsesHandler /V 9 >>");
    other.TrailerExtra = "/Encrypt 4 0 R /ID [<00112233445566778899aabbccddeeff> <00>]";
    const std::string unknown = Write("unknown.pdf", other.Finish());

    TExtraction& run = Make();
    const std::int32_t blank = run.Engine().SelectedDocument();
    for (const std::string& bad : {junk, unknown}) {
        ASSERT_EQ(run.OpenPdfFile(good), TOpenResult::Opened);
        Log.clear();
        EXPECT_NE(run.OpenPdfFile(bad), TOpenResult::Opened);
        EXPECT_EQ(run.CurrentFile(), "");
        EXPECT_EQ(run.Engine().SelectedDocument(), blank);
        ASSERT_EQ(Log.size(), 1u);
        EXPECT_EQ(Log[0], bad == junk ? "Can not load file: " + junk +
                                            ". It is may be not a valid PDF file."
                                      : "Unknown Encryption.");
    }
}

TEST_F(ExtractionTest, WrongPasswordAsksAgainAndCancelOpensNothing) {
    const std::string pdf = Write("locked.pdf", encryptedPdf("secret"));
    TExtraction& run = Make();
    const std::int32_t blank = run.Engine().SelectedDocument();
    Passwords = {"wrong", "secret"};
    EXPECT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    EXPECT_EQ(Prompts,
              std::vector<std::string>(2, "\"locked.pdf\" needs password to open:|Password"));

    const std::string other = Write("locked2.pdf", encryptedPdf("secret"));
    Passwords = {"nope"};
    Log.clear();
    EXPECT_EQ(run.OpenPdfFile(other), TOpenResult::Cancelled);
    EXPECT_EQ(run.CurrentFile(), "");
    EXPECT_TRUE(Log.empty()) << "a cancelled prompt ends the opening silently";
    EXPECT_EQ(run.Engine().SelectedDocument(), blank) << "the document is unloaded on cancel too";

    Prompts.clear();
    const std::string open = Write("open.pdf", encryptedPdf(""));
    EXPECT_EQ(run.OpenPdfFile(open), TOpenResult::Opened);
    EXPECT_TRUE(Prompts.empty()) << "the empty user password needs no prompt";
}

TEST_F(ExtractionTest, TwoPagesAreTextCrLfText) {
    const std::string pdf = Write("two.pdf", pagesPdf(2));
    Output = Path("two.txt");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    Log.clear();
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Finished);
    EXPECT_EQ(Suggested, Path("two.txt"));
    EXPECT_EQ(readBytes(*Output), Pages(pdf, {1, 2}));
    EXPECT_NE(PageText(pdf, 1), PageText(pdf, 2));
    EXPECT_EQ(Log, (std::vector<std::string>{"Begin to extract from " + pdf + " to " +
                                                 *Output + "\r\n Page from 1 to 2",
                                             "Extraction finished"}));
    EXPECT_EQ(Progress, (std::vector<int>{1, 2}));
    EXPECT_EQ(Questions, std::vector<std::string>{"Do you want to open the destination file?"});
    EXPECT_EQ(Opened, *Output);
    EXPECT_FALSE(run.Running());
}

TEST_F(ExtractionTest, RangesAreClampedAndFiltersUseDocumentPageNumbers) {
    const std::string pdf = Write("five.pdf", pagesPdf(5));
    Output = Path("five.txt");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    struct Case {
        int Kind, First, Last, Filter;
        std::vector<int> Pages;
    };
    for (const Case& c : {Case{2, 3, 10, 1, {3, 4, 5}}, Case{2, 0, 2, 1, {1, 2}},
                          Case{2, 4, 2, 1, {}}, Case{2, 3, 5, 3, {4}}, Case{2, 2, 5, 2, {3, 5}},
                          Case{1, 4, 4, 3, {2, 4}}, Case{1, 1, 1, 9, {}}}) {
        Settings.SetRangeKind(c.Kind);
        Settings.SetFirstPage(c.First);
        Settings.SetLastPage(c.Last);
        Settings.SetPageFilter(c.Filter);
        Progress.clear();
        Log.clear();
        EXPECT_EQ(run.aExtractExecute(), TRunResult::Finished);
        EXPECT_EQ(Progress, c.Pages) << c.First << "-" << c.Last << " filter " << c.Filter;
        std::string expected;
        for (const int p : c.Pages)
            expected += PageText(pdf, p) + "\r\n";
        EXPECT_EQ(readBytes(*Output), expected);
        EXPECT_EQ(Log.back(), "Extraction finished");
    }
    EXPECT_EQ(Log.front(), "Begin to extract from " + pdf + " to " +
                               *Output + "\r\n Page from 1 to 5");
}

TEST_F(ExtractionTest, HeaderAndFooterFrameEachPageWithCrLf) {
    const std::string pdf = Write("seven.pdf", pagesPdf(7));
    Output = Path("seven.txt");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    Settings.SetRangeKind(2);
    Settings.SetFirstPage(2);
    Settings.SetLastPage(2);
    Settings.SetHeader("&P of &a \xe2\x82\xac &n");
    Settings.SetFooter(" = Page &p =");
    ASSERT_EQ(run.aExtractExecute(), TRunResult::Finished);
    EXPECT_EQ(readBytes(*Output),
              "2 of 7 \x80 seven.pdf\r\n" + PageText(pdf, 2) + "\r\n = Page 2 =\r\n");

    run.SetTextEncoding(korvel::TTextEncoding::Utf8);
    ASSERT_EQ(run.aExtractExecute(), TRunResult::Finished);
    EXPECT_EQ(readBytes(*Output).substr(0, 12), "2 of 7 \xe2\x82\xac s");
}

TEST_F(ExtractionTest, StopAfterPageFiveWritesFivePagesAndAsksNothing) {
    const std::string pdf = Write("ten.pdf", pagesPdf(10));
    Output = Path("ten.txt");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    StopAtPage = 5;
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Stopped);
    EXPECT_EQ(readBytes(*Output), Pages(pdf, {1, 2, 3, 4, 5}));
    EXPECT_EQ(Log.back(), "User teminate");
    EXPECT_TRUE(Questions.empty());

    StopAtPage = -1; // a new run clears the stop
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Finished);
    EXPECT_EQ(Progress.size(), 15u);
}

TEST_F(ExtractionTest, AFailedRunLeavesTheEarlierFileAsItWas) {
    const std::string pdf = Write("gone.pdf", pagesPdf(3));
    Output = Path("gone.txt");
    writeBytes(*Output, "earlier text");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    const std::int32_t blank = run.Engine().SelectedDocument();

    Settings.SetRangeKind(3);
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Failed);
    EXPECT_EQ(Errors, std::vector<std::string>{"INNER ERROR: Error page range type"});
    EXPECT_EQ(run.Engine().SelectedDocument(), blank);
    EXPECT_FALSE(run.Running());

    Settings.SetRangeKind(1);
    std::filesystem::remove(pdf);
    Log.clear();
    EXPECT_EQ(run.aExtractExecute(), TRunResult::LoadFailed);
    EXPECT_EQ(Log, std::vector<std::string>{"Can not load file: " + pdf +
                                            ". It is may be not a valid PDF file."});
    EXPECT_EQ(readBytes(*Output), "earlier text");

    Output = FDir.path() + "/no/such/folder/out.txt";
    Write("gone.pdf", pagesPdf(3));
    Errors.clear();
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Failed);
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].rfind("Can not write file: " + *Output, 0), 0u);
    EXPECT_TRUE(Questions.empty());
}

TEST_F(ExtractionTest, AnErrorDuringTheRunWritesNothing) {
    const std::string pdf = Write("three.pdf", pagesPdf(3));
    Output = Path("three.txt");
    writeBytes(*Output, "earlier text");
    Hooks.ShowProgress = [](int page) {
        if (page == 2)
            throw std::runtime_error("text production failed");
    };
    TExtraction& failing = Make();
    const std::int32_t blank = failing.Engine().SelectedDocument();
    ASSERT_EQ(failing.OpenPdfFile(pdf), TOpenResult::Opened);
    EXPECT_EQ(failing.aExtractExecute(), TRunResult::Failed);
    EXPECT_EQ(Errors, std::vector<std::string>{"text production failed"});
    EXPECT_EQ(readBytes(*Output), "earlier text") << "page 1 was not committed";
    EXPECT_EQ(failing.Engine().SelectedDocument(), blank);
    EXPECT_FALSE(failing.Running());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.path()), std::filesystem::directory_iterator()), 2) << "no temporary file is left";
}

TEST_F(ExtractionTest, APasswordThatNoLongerOpensTheFileWritesNothing) {
    const std::string pdf = Write("changed.pdf", encryptedPdf("secret"));
    Output = Path("changed.txt");
    TExtraction& run = Make();
    Passwords = {"secret"};
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    ASSERT_EQ(run.aExtractExecute(), TRunResult::Finished);
    const std::string text = readBytes(*Output);
    EXPECT_NE(text.find("Page 1"), std::string::npos) << "decrypted with the password" << text;
    EXPECT_NE(text.find("Page 2"), std::string::npos);

    std::filesystem::remove(*Output);
    Write("changed.pdf", encryptedPdf("different"));
    Log.clear();
    EXPECT_EQ(run.aExtractExecute(), TRunResult::PasswordRejected);
    EXPECT_FALSE(std::filesystem::exists(*Output));
    ASSERT_EQ(Log.size(), 1u);
    EXPECT_EQ(Log[0], "The password no longer opens " + pdf +
                          ": the file has changed since it was opened. Open it again.");
}

TEST_F(ExtractionTest, ACountFarBeyondTheTreeEndsTheRunAtItsLastLeaf) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
             "/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> "
             ">> >> >>");
    w.SetStream(4, "", "BT /F1 12 Tf 72 720 Td (Only) Tj ET");
    const std::string pdf = Write("liar.pdf", w.Finish());
    Output = Path("liar.txt");
    Settings.SetFooter("-&p-");
    TExtraction& run = Make();
    ASSERT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    EXPECT_EQ(run.OpenedPageCount(), 2147483647);
    EXPECT_EQ(run.aExtractExecute(), TRunResult::Finished);
    EXPECT_EQ(readBytes(*Output), PageText(pdf, 1) + "\r\n-1-\r\n");
    ASSERT_EQ(Log.size(), 4u);
    EXPECT_EQ(Log[2], "Pages 2 to 2147483647 are not in the file's page tree: the extraction "
                      "ends before page 2.");
    EXPECT_EQ(Log[3], "Extraction finished");

    // With no more than 1000 pages left they are written, empty, as any page not found.
    Settings.SetRangeKind(2);
    Settings.SetFirstPage(1);
    Settings.SetLastPage(1001);
    ASSERT_EQ(run.aExtractExecute(), TRunResult::Finished);
    const std::string text = readBytes(*Output);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 1 + 2 * 1000);
    EXPECT_NE(text.find("\r\n-1001-\r\n"), std::string::npos);
}

TEST(ExpandPlaceholders, OnePassInEitherCase) {
    const std::string file = "/data/a&d&p/x&n.pdf";
    EXPECT_EQ(ExpandPlaceholders("&p &P &a &A|&f|&N|&d &x && &", 3, 7, file, "1.2.26"),
              "3 3 7 7|/data/a&d&p/x&n.pdf|x&n.pdf|1.2.26 &x && &")
        << "text brought in by &f and &n is not expanded again";
    EXPECT_EQ(ExpandPlaceholders("&&p", 4, 7, file, ""), "&4");
    EXPECT_EQ(ExpandPlaceholders("", 4, 7, file, ""), "");
}

TEST(TextPathFor, ReplacesOrAddsTheExtension) {
    EXPECT_EQ(TextPathFor("/a/b.pdf"), "/a/b.txt");
    EXPECT_EQ(TextPathFor("/a/b.c.PDF"), "/a/b.c.txt");
    EXPECT_EQ(TextPathFor("/a.d/b"), "/a.d/b.txt");
}

TEST_F(ExtractionTest, ADamagedFileIsReconstructedAndTheOpeningSaysSo) {
    // The cross-reference table is cut off: only a scan of the file finds its objects.
    std::string bytes = pagesPdf(2);
    bytes.resize(bytes.rfind("xref"));
    const std::string pdf = Write("damaged.pdf", bytes);
    TExtraction& run = Make();
    EXPECT_EQ(run.OpenPdfFile(pdf), TOpenResult::Opened);
    ASSERT_EQ(Log.size(), 2u);
    EXPECT_EQ(Log[0], "The file is damaged; its objects were recovered by scanning it.");
    EXPECT_EQ(run.OpenedPageCount(), 2);
    // A sound file says nothing of the kind.
    Log.clear();
    EXPECT_EQ(run.OpenPdfFile(Write("sound.pdf", pagesPdf(2))), TOpenResult::Opened);
    EXPECT_EQ(Log.size(), 1u);
}
