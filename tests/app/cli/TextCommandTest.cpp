// tolvane-text's safety and scripting conventions end to end: writers that refuse their input
// and leave device nodes alone, warnings where info and page-text hide a problem, passwords
// kept off the command line, the prompt that gives the terminal back, and the text command.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Processes.h"
#include "support/TestPdfs.h"

namespace fs = std::filesystem;
using tolvane_test::ReadFile;
using tolvane_test::RunResult;
using tolvane_test::TempDir;

namespace {

const std::string kBinary = TOLVANE_BINARY_DIR "/tolvane-text";

// Runs argv in `dir` (so paths are short), standard input from `input` (/dev/null if empty).
RunResult exec(const TempDir& dir, std::vector<std::string> argv, const std::string& input = {}) {
    const fs::path scratch = dir.Path / ".scratch";
    fs::create_directories(scratch);
    return tolvane_test::RunProgram(std::move(argv), input, scratch, dir.Path);
}

RunResult run(const TempDir& dir, const std::vector<std::string>& args,
              const std::string& input = {}) {
    std::vector<std::string> argv{kBinary};
    argv.insert(argv.end(), args.begin(), args.end());
    return exec(dir, std::move(argv), input);
}

// Four pages whose text is their number in words.
std::string fourPages() {
    return tolvane_test::TextPdf({"One", "Two", "Three", "Four"});
}

std::string lockedPdf() {
    return tolvane_test::EncryptedTextPdf({"Hidden"}, "s3cret");
}

} // namespace

TEST(CliSafety, NoWriterReplacesItsInputOrADevice) {
    TempDir dir;
    const std::string pdf = fourPages();
    dir.Write("doc.txt", pdf); // a PDF whose default output name is itself
    dir.Write("a.pdf", pdf);
    fs::create_symlink("a.pdf", dir.Path / "link.txt");
    const struct {
        std::vector<std::string> Args;
        std::string Output;
    } refusals[] = {{{"extract", "doc.txt"}, "doc.txt"},
                    {{"extract", "a.pdf", "-o", "a.pdf"}, "a.pdf"},
                    {{"extract", "a.pdf", "-o", "link.txt"}, "link.txt"},
                    {{"text", "a.pdf", "-o", "link.txt"}, "link.txt"}};
    for (const auto& refusal : refusals) {
        const RunResult r = run(dir, refusal.Args);
        EXPECT_EQ(r.ExitCode, 1) << refusal.Args[0] << " " << refusal.Output;
        EXPECT_NE(r.Err.find(refusal.Output), std::string::npos) << r.Err;
    }
    EXPECT_EQ(ReadFile(dir.Path / "doc.txt"), pdf);
    EXPECT_EQ(ReadFile(dir.Path / "a.pdf"), pdf);

    // A FIFO and a device node stay what they are.
    const std::string fifo = (dir.Path / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(run(dir, {"extract", "a.pdf", "-o", "fifo", "--range", "1"}).ExitCode, 0);
    char buffer[256] = {};
    EXPECT_GT(::read(reader, buffer, sizeof buffer), 0);
    ::close(reader);
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    const std::string node = (dir.Path / "null").string();
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(run(dir, {"extract", "a.pdf", "-o", "null"}).ExitCode, 0);
        EXPECT_EQ(run(dir, {"text", "a.pdf", "null"}).ExitCode, 0);
        EXPECT_EQ(fs::status(node).type(), fs::file_type::character);
    }
}

TEST(CliSafety, InfoAndPageTextWarnOnStderrAndKeepStdout) {
    TempDir dir;
    dir.Write("a.pdf", fourPages());
    dir.Write("locked.pdf", lockedPdf());
    const struct {
        std::vector<std::string> Args;
        std::string Out;
        std::string Err;
    } cases[] = {
        {{"page-text", "a.pdf", "--page", "2", "--page", "9", "--option", "0"},
         "TwoTwo",
         "tolvane-text: a.pdf: page 9 is outside 1-4; page 2 stays selected\n"},
        {{"page-text", "a.pdf", "--page", "1", "--option", "7"},
         "",
         "tolvane-text: a.pdf: option 7 is not one of 0-4; it gives no text\n"},
        {{"page-text", "locked.pdf", "--page", "1", "--option", "0"},
         "",
         "tolvane-text: locked.pdf: a password is needed and none was given; the document's "
         "text is not readable\n"},
        {{"info", "locked.pdf", "--password", "bad"},
         "Encrypted: 1\nSetPassword: 0\nSecurityInfo: 1 3 3 4 6 6 6 6 6 6 8\nPageCount: 1\n"
         "Page 1: 612 792\n",
         "tolvane-text: locked.pdf: the password was not accepted; the document's text is not "
         "readable\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(dir, c.Args);
        EXPECT_EQ(r.ExitCode, 0) << c.Args[1];
        EXPECT_EQ(r.Out, c.Out) << c.Args[1];
        EXPECT_EQ(r.Err, c.Err) << c.Args[1];
    }
}

TEST(CliSafety, PasswordsComeFromAFileStdinOrTheEnvironment) {
    TempDir dir;
    dir.Write("locked.pdf", lockedPdf());
    dir.Write("pw", "s3cret\nnext line\n");
    const std::vector<std::string> page{"page-text", "locked.pdf", "--page", "1", "--option", "0"};
    auto with = [&page](std::vector<std::string> extra) {
        extra.insert(extra.begin(), page.begin(), page.end());
        return extra;
    };
    EXPECT_EQ(run(dir, with({"--password-file", "pw"})).Out, "Hidden");
    EXPECT_EQ(run(dir, with({"--password-file", "-"}), (dir.Path / "pw").string()).Out, "Hidden");
    EXPECT_EQ(
        exec(dir, {"/usr/bin/env", "TOLVANE_PASSWORD=s3cret", kBinary, "text", "locked.pdf"}).Out,
        "Hidden\n\f");
    const RunResult missingFile = run(dir, with({"--password-file", "nowhere"}));
    EXPECT_EQ(missingFile.ExitCode, 1);
    EXPECT_NE(missingFile.Err.find("nowhere"), std::string::npos);
    EXPECT_EQ(run(dir, with({"--password-file", "pw", "--password", "x"})).ExitCode, 1);
}

// The prompt on a pseudo-terminal, ended by Ctrl-C or by end of input: echo comes back.
TEST(CliSafety, ThePasswordPromptGivesTheTerminalBack) {
    TempDir dir;
    dir.Write("locked.pdf", lockedPdf());
    for (const char key : {'\x03', '\x04'}) { // Ctrl-C, Ctrl-D
        int master = -1;
        int slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, 0);
            ::dup2(slave, 1);
            ::dup2(slave, 2);
            ::chdir(dir.Path.c_str());
            ::execl(kBinary.c_str(), kBinary.c_str(), "extract", "locked.pdf", "-o", "-",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::string seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (seen.find("needs password to open:") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd ready{master, POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0) {
                char buffer[256];
                const ssize_t got = ::read(master, buffer, sizeof buffer);
                if (got > 0)
                    seen.append(buffer, static_cast<std::size_t>(got));
            }
        }
        ASSERT_NE(seen.find("needs password to open:"), std::string::npos) << seen;
        termios during{};
        ::tcgetattr(slave, &during);
        EXPECT_EQ(during.c_lflag & ECHO, 0u) << "typing is hidden";
        ASSERT_EQ(::write(master, &key, 1), 1);
        int status = 0;
        ::waitpid(child, &status, 0);
        termios after{};
        ::tcgetattr(slave, &after);
        EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo is back after key " << int(key);
        if (key == '\x03')
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        ::close(master);
        ::close(slave);
    }
}

TEST(TextCommand, WritesScriptTextWithPageListsStdinAndStdout) {
    TempDir dir;
    const std::string pdf = fourPages();
    dir.Write("a.pdf", pdf);
    dir.Write("b.pdf", pdf);
    const struct {
        std::vector<std::string> Args;
        std::string Out;
    } cases[] = {
        {{"a.pdf"}, "One\n\fTwo\n\fThree\n\fFour\n\f"},
        {{"-", "--pages", "3-,1"}, "Three\n\fFour\n\fOne\n\f"},
        {{"a.pdf", "-", "--pages", "2-3", "--filter", "even"}, "Two\n\f"},
        {{"a.pdf", "--pages", "1", "--no-page-breaks", "--header", "&n &p/&a", "--footer", "--"},
         "a.pdf 1/4\nOne\n--\n"},
        {{"a.pdf", "b.pdf", "--pages", "1", "--no-page-breaks"}, "One\n\fOne\n"},
        {{"a.pdf", "--pages", "4", "--encoding", "CP1252", "--layout", "order"}, "Four\n\f"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(
            dir,
            [&] {
                std::vector<std::string> args{"text"};
                args.insert(args.end(), c.Args.begin(), c.Args.end());
                return args;
            }(),
            (dir.Path / "a.pdf").string());
        EXPECT_EQ(r.ExitCode, 0) << c.Args[0] << r.Err;
        EXPECT_EQ(r.Out, c.Out) << c.Args[0];
        EXPECT_EQ(r.Err, "") << "silent on success";
    }
    EXPECT_EQ(ReadFile(dir.Path / "b.pdf"), pdf) << "a second PDF is an input, never the output";

    EXPECT_EQ(run(dir, {"text", "a.pdf", "out.txt", "--pages", "2"}).ExitCode, 0);
    EXPECT_EQ(ReadFile(dir.Path / "out.txt"), "Two\n\f");
    EXPECT_EQ(run(dir, {"text", "a.pdf", "b.pdf", "-o", "texts/", "--pages", "1"}).ExitCode, 0);
    EXPECT_EQ(ReadFile(dir.Path / "texts" / "a.txt"), "One\n\f");
    EXPECT_EQ(ReadFile(dir.Path / "texts" / "b.txt"), "One\n\f");
}

TEST(TextCommand, FailuresSayWhyExitNonZeroAndWriteNothing) {
    TempDir dir;
    dir.Write("a.pdf", fourPages());
    dir.Write("locked.pdf", lockedPdf());
    dir.Write("junk.pdf", "not a pdf");
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Err;
    } cases[] = {
        {{"a.pdf", "--pages", "9"}, 1, "tolvane-text: a.pdf: page 9 is outside 1-4\n"},
        {{"a.pdf", "--pages", "2", "--filter", "odd"},
         1,
         "tolvane-text: a.pdf: the page list selects no page\n"},
        {{"junk.pdf"},
         2,
         "tolvane-text: junk.pdf: can not be loaded; it may not be a PDF file\n"},
        {{"locked.pdf", "--password", "nope"},
         3,
         "tolvane-text: locked.pdf: the password was not accepted\n"},
        {{"locked.pdf"},
         3,
         "tolvane-text: locked.pdf: a password is needed (--password-file FILE, "
         "TOLVANE_PASSWORD or --password)\n"},
        {{"a.pdf", "b.pdf", "c.pdf", "-o", "one.txt"},
         1,
         "tolvane-text: -o one.txt: with several files, -o names a folder (end it with /) or - "
         "for standard output\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"text"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        args.insert(args.end(), {"-o", "out.txt"});
        if (c.Args.size() > 2 && c.Args[c.Args.size() - 2] == "-o")
            args.resize(args.size() - 2);
        const RunResult r = run(dir, args);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Args[0];
        EXPECT_EQ(r.Err, c.Err) << c.Args[0];
        EXPECT_FALSE(fs::exists(dir.Path / "out.txt")) << c.Args[0];
    }
}
