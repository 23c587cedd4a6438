// tolvane-text end to end: the built binary over files made by the test writer, with stdout,
// stderr and the exit code compared byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/PdfWriter.h"
#include "support/Processes.h"

using tolvane_test::MakeSimplePdf;
using tolvane_test::SimpleDocOptions;

namespace {

const std::string kBinary = TOLVANE_BINARY_DIR "/tolvane-text";

using tolvane_test::ReadFile;
using tolvane_test::RunResult;

class TempDir : public tolvane_test::TempDir {
public:
    TempDir() : tolvane_test::TempDir("tolvane_cli_") {}
};

// Runs the binary with the arguments, standard input never a terminal.
RunResult run(const std::vector<std::string>& args) {
    TempDir dir;
    std::vector<std::string> argv{kBinary};
    argv.insert(argv.end(), args.begin(), args.end());
    return tolvane_test::RunProgram(std::move(argv), {}, dir.Path);
}

} // namespace

TEST(Cli, InfoListsSecurityAnswersAndEveryPageSize) {
    TempDir dir;
    SimpleDocOptions options;
    options.Width = 200.5;
    options.Height = 100.99999;
    const std::string file = dir.Write("two.pdf", MakeSimplePdf({"BT ET", "BT ET"}, options));
    const RunResult r = run({"info", file});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, "Encrypted: 0\n"
                     "SecurityInfo: 0 2 2 4 6 6 6 6 6 6 11\n"
                     "PageCount: 2\n"
                     "Page 1: 200.5 100.9999\n"
                     "Page 2: 200.5 100.9999\n");
}

TEST(Cli, InfoWritesWholeNumbersWithoutPointAndDefaultsMissingBoxes) {
    TempDir dir;
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Count 3 /Kids [3 0 R 4 0 R] >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.3 -841.89] >>");
    w.Set(4, "<< /Type /Page /Parent 2 0 R >>");
    const std::string file = dir.Write("tree.pdf", w.Finish());
    const RunResult r = run({"info", file});
    EXPECT_EQ(r.ExitCode, 0);
    // Page 3 cannot be located: its line tells the size of no page.
    EXPECT_EQ(r.Out, "Encrypted: 0\n"
                     "SecurityInfo: 0 2 2 4 6 6 6 6 6 6 11\n"
                     "PageCount: 3\n"
                     "Page 1: 595.3 841.89\n"
                     "Page 2: 612 792\n"
                     "Page 3: 0 0\n");
}

TEST(Cli, InfoWithPasswordAppliesItBeforeTheSecurityLine) {
    TempDir dir;
    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption.UserPassword = "user";
    options.Encryption.OwnerPassword = "owner";
    const std::string file = dir.Write("locked.pdf", MakeSimplePdf({"BT ET"}, options));

    RunResult r = run({"info", file});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "Encrypted: 1\n"
                     "SecurityInfo: 1 3 3 4 6 6 6 6 6 6 8\n"
                     "PageCount: 1\n"
                     "Page 1: 612 792\n");

    r = run({"info", file, "--password", "owner"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "Encrypted: 1\n"
                     "SetPassword: 2\n"
                     "SecurityInfo: 1 3 2 4 6 6 6 6 6 6 8\n"
                     "PageCount: 1\n"
                     "Page 1: 612 792\n");

    r = run({"info", "--password", "wrong", file});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out.substr(0, 27), "Encrypted: 1\nSetPassword: 0");
}

TEST(Cli, AnEmptyPasswordStillPrintsItsLine) {
    TempDir dir;
    const std::string file = dir.Write("plain.pdf", MakeSimplePdf({"BT ET"}));
    const RunResult r = run({"info", file, "--password", ""});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "Encrypted: 0\n"
                     "SetPassword: 3\n"
                     "SecurityInfo: 0 2 2 4 6 6 6 6 6 6 11\n"
                     "PageCount: 1\n"
                     "Page 1: 612 792\n");
}

TEST(Cli, AFileThatDoesNotLoadExitsTwoWithTheMessage) {
    TempDir dir;
    const std::string missing = (dir.Path / "missing.pdf").string();
    RunResult r = run({"info", missing});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Can not load file: " + missing + ". It is may be not a valid PDF file.\n");

    const std::string junk = dir.Write("junk.pdf", "hello, not a PDF\n");
    r = run({"info", junk});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err, "Can not load file: " + junk + ". It is may be not a valid PDF file.\n");
}

TEST(Cli, UsageErrorsExitOneWithAMessage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"info"},
                                                 {"nonsense"},
                                                 {"info", "a", "b"},
                                                 {"info", "a", "--password"},
                                                 {"page-text", "a.pdf"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.ExitCode, 1) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.Err.empty()) << ::testing::PrintToString(args);
        EXPECT_EQ(r.Out, "") << ::testing::PrintToString(args);
    }
}

// The goldens (cli_goldens) hold every page-text option byte for byte in the C locale; this
// test runs again under a German locale (cli_test_de_DE), where the numbers must stay the same.
TEST(Cli, PageTextNumbersDoNotFollowTheLocale) {
    const std::string pdf = TOLVANE_SOURCE_DIR "/samples/sample.pdf";
    const RunResult records = run({"page-text", pdf, "--page", "1", "--option", "2"});
    EXPECT_EQ(records.Out.rfind("72.00,720.00,#000000,18.00,\"Helvetica\",\"Tolvane", 0), 0u)
        << records.Out;
    const RunResult positioned = run({"page-text", pdf, "--page", "1", "--option", "3"});
    EXPECT_EQ(positioned.Out.rfind("\"Arial\",#000000,18.00,72.0000,716.2740,316.0800,", 0), 0u)
        << positioned.Out;
}

namespace {

std::string threePages() {
    return MakeSimplePdf({"BT /F1 12 Tf 72 720 Td (One) Tj ET",
                          "BT /F1 12 Tf 72 720 Td (Second page) Tj ET",
                          "BT /F1 12 Tf 72 720 Td (Three) Tj 0 -14 Td (and more) Tj ET"});
}

} // namespace

TEST(CliExtract, WritesTheTextFileNextToThePdfAndLogsTheRun) {
    TempDir dir;
    const std::string pdf = dir.Write("three.pdf", threePages());
    const std::string txt = (dir.Path / "three.txt").string();
    const RunResult r = run({"extract", pdf, "--layout", "order"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Current file is: " + pdf +
                         "\n Pages: 3\n Press Extract button to extract text\n"
                         "Begin to extract from " +
                         pdf + " to " + txt +
                         "\n Page from 1 to 3\n"
                         "Extracting page 3. Press Stop button to terminate\n"
                         "Extraction finished\n");
    EXPECT_EQ(ReadFile(txt), "One\r\n = Page 1 =\r\n"
                             "Second page\r\n = Page 2 =\r\n"
                             "Three \r\nand more\r\n = Page 3 =\r\n");
}

TEST(CliExtract, ExitCodesForLoadEncryptionAndPasswords) {
    TempDir dir;
    const std::string junk = dir.Write("junk.pdf", "junk");
    const RunResult missing = run({"extract", junk});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_EQ(missing.Err, "Can not load file: " + junk + ". It is may be not a valid PDF file.\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path / "junk.txt"));

    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    w.Set(4, "<< /Filter /SomeoneElsesHandler >>");
    w.TrailerExtra = "/Encrypt 4 0 R";
    const RunResult unknown = run({"extract", dir.Write("other.pdf", w.Finish())});
    EXPECT_EQ(unknown.ExitCode, 2);
    EXPECT_EQ(unknown.Err, "Unknown Encryption.\ntolvane-text: " + dir.Path.string() +
                               "/other.pdf: its encryption is not supported\n");

    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption.UserPassword = "s3cret";
    const std::string locked =
        dir.Write("locked.pdf", MakeSimplePdf({"BT /F1 12 Tf 72 720 Td (Hidden) Tj ET"}, options));
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"extract", locked}, "a password is needed (--password-file FILE, TOLVANE_PASSWORD or "
                              "--password)"},
        {{"extract", locked, "--password", "nope"}, "the password was not accepted"}};
    for (const auto& [args, message] : refusals) {
        const RunResult r = run(args);
        EXPECT_EQ(r.ExitCode, 3);
        EXPECT_EQ(r.Err, "tolvane-text: " + locked + ": " + message + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir.Path / "locked.txt"));
    }
    const RunResult opened =
        run({"extract", locked, "--password", "s3cret", "--layout", "order", "-o", "-"});
    EXPECT_EQ(opened.ExitCode, 0);
    EXPECT_EQ(opened.Out, "Hidden\r\n = Page 1 =\r\n");
    EXPECT_EQ(opened.Err.find("s3cret"), std::string::npos) << "the password is never logged";
}

TEST(CliExtract, UsageErrorsAndHelp) {
    TempDir dir;
    const std::string pdf = dir.Write("three.pdf", threePages());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"extract"},
                                                 {"extract", pdf, "--range", "2-x"},
                                                 {"extract", pdf, "--range", "-3"},
                                                 {"extract", pdf, "--layout", "columns"},
                                                 {"extract", pdf, "--filter", "third"},
                                                 {"extract", pdf, "--encoding", "latin1"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.ExitCode, 1) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.Err.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path / "three.txt"));
    const RunResult help = run({"extract", "--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* text : {"-o", "--layout", "smart", "--range", "--filter", "all", "--header",
                             "--footer", " = Page &p =", "--password", "--encoding", "cp1252"})
        EXPECT_NE(help.Out.find(text), std::string::npos) << text << " in\n" << help.Out;
}
