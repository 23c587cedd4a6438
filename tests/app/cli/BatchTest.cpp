// tolvane-text batch end to end: good, encrypted, damaged and hostile files in one run, each
// reported on its own JSON line while the rest finish.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Processes.h"
#include "support/TestPdfs.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = TOLVANE_BINARY_DIR "/tolvane-text";

// Test case limits: the hostile file needs about 220 MB and 3 s in an ordinary build.
const std::string kMemoryMB = "120";

using tolvane_test::ReadFile;
using tolvane_test::RunResult;

class TempDir : public tolvane_test::TempDir {
public:
    TempDir() : tolvane_test::TempDir("tolvane_batch_") {}
};

// Runs the batch command in `dir` with stdin from `input`; stdout and stderr go to files.
RunResult run(const fs::path& dir, const std::vector<std::string>& args,
              const std::string& input = {}) {
    const std::string inPath = (dir / "stdin").string();
    std::ofstream(inPath, std::ios::binary) << input;
    std::vector<std::string> argv{kBinary, "batch"};
    argv.insert(argv.end(), args.begin(), args.end());
    return tolvane_test::RunProgram(std::move(argv), inPath, dir, dir);
}

// Starts the batch command in `dir` without waiting for it; stdout and stderr go to files there.
pid_t start(const fs::path& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{kBinary, "batch"};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t child = fork();
    if (child == 0) {
        const int input = open("/dev/null", O_RDONLY);
        const int out = open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (chdir(dir.c_str()) != 0 || input < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(input, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> raw;
        for (std::string& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
    return child;
}

// The exit code of a started program, 128 + the signal when a signal ended it.
int waitExit(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Processes working in `dir`: the workers of a batch started there are forks of it.
int processesIn(const fs::path& dir) {
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::error_code unreadable;
        if (fs::read_symlink(entry.path() / "cwd", unreadable) == dir)
            ++count;
    }
    return count;
}

// The report line of `file` ("" when there is none, or more than one).
std::string lineOf(const std::string& report, const std::string& file) {
    std::istringstream lines(report);
    std::string found;
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find("{\"file\":\"" + file + "\",") == 0) {
            found = line;
            ++count;
        }
    return count == 1 ? found : std::string();
}

// The raw JSON value of a field of a report line: "\"ok\"", "2", "null".
std::string field(const std::string& line, const std::string& name) {
    const std::size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos)
        return "<missing>";
    std::size_t start = at + name.size() + 3;
    std::size_t end = start;
    if (line[start] == '"') {
        end = start + 1;
        while (end < line.size() && line[end] != '"')
            end += line[end] == '\\' ? 2 : 1;
        ++end;
    } else {
        end = line.find_first_of(",}", start);
    }
    return line.substr(start, end - start);
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

bool anyPartFiles(const fs::path& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().filename().string().find(".part-") != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(Batch, ReportsEveryKindOfFileOnItsOwnLineAndTheRestFinish) {
    TempDir dir;
    dir.Write("in/good.pdf", tolvane_test::TextPdf({"first page", "second page"}));
    dir.Write("in/locked.pdf", tolvane_test::EncryptedTextPdf({"secret"}, "pw"));
    dir.Write("in/vendor.pdf", tolvane_test::UnknownHandlerPdf());
    dir.Write("in/damaged.pdf", tolvane_test::DamagedPdf());
    dir.Write("in/hog.pdf", tolvane_test::FormFanPdf(6));
    const RunResult r = run(dir.Path, {"in/good.pdf", "in/locked.pdf", "in/vendor.pdf",
                                       "in/damaged.pdf", "in/hog.pdf", "--out-dir", "out", "-j",
                                       "2", "--max-memory", kMemoryMB, "--encoding", "utf-8"});
    EXPECT_EQ(r.ExitCode, 4) << r.Err;
    EXPECT_EQ(lineCount(r.Out), 5u) << r.Out;

    const std::string good = lineOf(r.Out, "in/good.pdf");
    EXPECT_EQ(field(good, "status"), "\"ok\"") << good;
    EXPECT_EQ(field(good, "pages"), "2");
    EXPECT_EQ(field(good, "output"), "\"out/in/good.txt\"");
    EXPECT_EQ(field(good, "error"), "null");
    const std::string text = ReadFile(dir.Path / "out/in/good.txt");
    EXPECT_EQ(text, "first page\r\n = Page 1 =\r\nsecond page\r\n = Page 2 =\r\n");
    EXPECT_EQ(field(good, "chars"), std::to_string(text.size()));

    const std::string locked = lineOf(r.Out, "in/locked.pdf");
    EXPECT_EQ(field(locked, "status"), "\"needs-password\"") << locked;
    EXPECT_EQ(field(locked, "output"), "null");
    EXPECT_EQ(field(lineOf(r.Out, "in/vendor.pdf"), "status"), "\"unsupported-encryption\"");
    const std::string damaged = lineOf(r.Out, "in/damaged.pdf");
    EXPECT_EQ(field(damaged, "status"), "\"unreadable\"") << damaged;
    EXPECT_NE(field(damaged, "error"), "null");
    const std::string hog = lineOf(r.Out, "in/hog.pdf");
    EXPECT_EQ(field(hog, "status"), "\"memory\"") << hog;

    EXPECT_FALSE(fs::exists(dir.Path / "out/in/locked.txt"));
    EXPECT_FALSE(fs::exists(dir.Path / "out/in/hog.txt"));
    EXPECT_FALSE(anyPartFiles(dir.Path / "out"));
    EXPECT_NE(r.Err.find("batch: 5 files"), std::string::npos) << r.Err;
}

TEST(Batch, SlowFileIsStoppedAtTheTimeLimitAndTheOthersFinish) {
    TempDir dir;
    dir.Write("slow.pdf", tolvane_test::FormFanPdf(6, 8)); // about a second a page
    dir.Write("a.pdf", tolvane_test::TextPdf({"a"}));
    dir.Write("b.pdf", tolvane_test::TextPdf({"b"}));
    const RunResult r = run(dir.Path, {"slow.pdf", "a.pdf", "b.pdf", "--out-dir", "out", "-j", "1",
                                       "--timeout", "1", "--max-memory", "0"});
    EXPECT_EQ(r.ExitCode, 4) << r.Err;
    const std::string slow = lineOf(r.Out, "slow.pdf");
    EXPECT_EQ(field(slow, "status"), "\"timeout\"") << slow;
    EXPECT_LT(std::stod(field(slow, "seconds")), 5.0);
    EXPECT_EQ(field(lineOf(r.Out, "a.pdf"), "status"), "\"ok\"");
    EXPECT_EQ(field(lineOf(r.Out, "b.pdf"), "status"), "\"ok\"");
    EXPECT_FALSE(anyPartFiles(dir.Path / "out"));
}

TEST(Batch, StopSignalGivesEveryStartedInputItsLineAndLeavesNoPartialOutput) {
    struct {
        int Signal;
        int Exit;
        const char* Name;
    } const cases[] = {{SIGTERM, 143, "SIGTERM"}, {SIGINT, 130, "SIGINT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        dir.Write("quick.pdf", tolvane_test::TextPdf({"quick"}));
        const std::string slow = tolvane_test::FormFanPdf(6);
        for (const char* name : {"slow1.pdf", "slow2.pdf", "slow3.pdf", "slow4.pdf"})
            dir.Write(name, slow);
        const pid_t batch =
            start(dir.Path, {"quick.pdf", "slow1.pdf", "slow2.pdf", "slow3.pdf", "slow4.pdf",
                             "--out-dir", "out", "-j", "2", "--max-memory", "0", "--timeout", "0"});
        ASSERT_GT(batch, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ReadFile(dir.Path / "stdout").find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(batch, c.Signal);
        EXPECT_EQ(waitExit(batch), c.Exit);

        const std::string out = ReadFile(dir.Path / "stdout");
        const std::string err = ReadFile(dir.Path / "stderr");
        EXPECT_EQ(field(lineOf(out, "quick.pdf"), "status"), "\"ok\"") << out;
        const std::string first = lineOf(out, "slow1.pdf");
        EXPECT_EQ(field(first, "status"), "\"stopped\"") << out;
        EXPECT_EQ(field(first, "pages"), "null");
        EXPECT_EQ(field(first, "chars"), "null");
        EXPECT_EQ(field(first, "output"), "null");
        EXPECT_EQ(field(first, "error"), std::string("\"the batch was stopped by ") + c.Name + '"');
        // slow2 may have started as quick ended; slow3 and slow4 never did.
        const std::size_t lines = lineCount(out);
        EXPECT_TRUE(lines == 2 ||
                    (lines == 3 && field(lineOf(out, "slow2.pdf"), "status") == "\"stopped\""))
            << out;
        EXPECT_EQ(lineOf(out, "slow3.pdf"), "");
        EXPECT_NE(err.find("batch: " + std::to_string(lines) + " files"), std::string::npos) << err;
        EXPECT_NE(err.find(" stopped"), std::string::npos) << err;
        EXPECT_TRUE(fs::exists(dir.Path / "out/quick.txt"));
        EXPECT_FALSE(fs::exists(dir.Path / "out/slow1.txt"));
        EXPECT_FALSE(anyPartFiles(dir.Path / "out"));
        EXPECT_EQ(processesIn(dir.Path), 0);
    }
}

TEST(Batch, FileWhosePagesGiveNoTextIsOkWithAWarningAndCountedInTheSummary) {
    struct {
        const char* Name;
        std::vector<std::string> Pages;
        bool NoText;
    } const cases[] = {
        {"empty.pdf", {""}, true},
        {"blank.pdf", {"", " "}, true},     // a space alone is no text
        {"late.pdf", {"", "", "x"}, false}, // text on the last page only
        {"text.pdf", {"text"}, false},
    };
    TempDir dir;
    std::vector<std::string> args;
    for (const auto& c : cases) {
        dir.Write(c.Name, tolvane_test::TextPdf(c.Pages));
        args.push_back(c.Name);
    }
    // The header and footer lines are not the pages' text, placeholders expanded or not.
    for (const char* option : {"--out-dir", "out", "--header", "&n, page &p of &a"})
        args.push_back(option);
    const RunResult r = run(dir.Path, args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string line = lineOf(r.Out, c.Name);
        EXPECT_EQ(field(line, "status"), "\"ok\"") << line;
        EXPECT_EQ(field(line, "warning"), c.NoText ? "\"no text\"" : "<missing>") << line;
        const fs::path output = dir.Path / "out" / fs::path(c.Name).replace_extension(".txt");
        EXPECT_EQ(field(line, "chars"), c.NoText ? "0" : std::to_string(ReadFile(output).size()));
    }
    EXPECT_NE(r.Err.find(": 4 ok (2 with no text)\n"), std::string::npos) << r.Err;
}

TEST(Batch, OutputThatWouldReplaceItsInputIsRefusedAndTheInputKept) {
    struct {
        const char* Name;
        const char* Input;
        const char* OutDir;
        void (*Prepare)(const fs::path& dir); // makes the output path lead to the input
    } const cases[] = {
        {"same path", "doc.txt", ".", [](const fs::path&) {}},
        {"symbolic link", "in/doc.pdf", "out",
         [](const fs::path& dir) {
             fs::create_directories(dir / "out/in");
             fs::create_symlink("../../in/doc.pdf", dir / "out/in/doc.txt");
         }},
        {"hard link", "in/doc.pdf", "out",
         [](const fs::path& dir) {
             fs::create_directories(dir / "out/in");
             fs::create_hard_link(dir / "in/doc.pdf", dir / "out/in/doc.txt");
         }},
        {"linked folder", "in/doc.txt", "out",
         [](const fs::path& dir) { fs::create_directory_symlink(".", dir / "out"); }},
    };
    const std::string pdf = tolvane_test::TextPdf({"kept"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        dir.Write(c.Input, pdf);
        dir.Write("other.pdf", pdf);
        c.Prepare(dir.Path);
        const RunResult r = run(dir.Path, {c.Input, "other.pdf", "--out-dir", c.OutDir});
        EXPECT_EQ(r.ExitCode, 4) << r.Err;
        const std::string line = lineOf(r.Out, c.Input);
        EXPECT_EQ(field(line, "status"), "\"refused\"") << r.Out;
        EXPECT_EQ(field(line, "error"), "\"the output would replace the input\"");
        EXPECT_EQ(field(line, "pages"), "null");
        EXPECT_EQ(field(line, "output"), "null");
        EXPECT_EQ(ReadFile(dir.Path / c.Input), pdf);
        EXPECT_EQ(field(lineOf(r.Out, "other.pdf"), "status"), "\"ok\"");
        EXPECT_NE(r.Err.find(": 1 ok, 1 refused\n"), std::string::npos) << r.Err;
    }
}

TEST(Batch, OutputThatIsAFifoOrADeviceIsWrittenInPlaceAndStaysWhatItWas) {
    TempDir dir;
    dir.Write("fifo.pdf", tolvane_test::TextPdf({"through the pipe"}));
    dir.Write("null.pdf", tolvane_test::TextPdf({"into nothing"}));
    fs::create_directories(dir.Path / "out");
    const fs::path fifo = dir.Path / "out/fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir.Path / "out/null.txt");
    std::string received;
    std::thread reader([&] { received = ReadFile(fifo); });
    const RunResult r = run(dir.Path, {"fifo.pdf", "null.pdf", "--out-dir", "out", "--footer", ""});
    // Ends the reader's wait should nothing have opened the FIFO.
    const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0)
        close(unblock);
    reader.join();
    EXPECT_EQ(r.ExitCode, 0) << r.Err << r.Out;
    EXPECT_EQ(received, "through the pipe\r\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(dir.Path / "out/null.txt"));
    EXPECT_FALSE(anyPartFiles(dir.Path / "out"));
}

TEST(Batch, PasswordOpensEncryptedFilesAndEveryOkRunExitsZero) {
    TempDir dir;
    dir.Write("locked.pdf", tolvane_test::EncryptedTextPdf({"secret text"}, "pw"));
    dir.Write("plain.pdf", tolvane_test::TextPdf({"plain text"}));
    const RunResult r = run(dir.Path, {"locked.pdf", "plain.pdf", "--out-dir", "out", "--password",
                                       "pw", "--layout", "order", "--footer", ""});
    EXPECT_EQ(r.ExitCode, 0) << r.Err << r.Out;
    EXPECT_EQ(field(lineOf(r.Out, "locked.pdf"), "status"), "\"ok\"");
    EXPECT_EQ(ReadFile(dir.Path / "out/locked.txt"), "secret text\r\n");
}

TEST(Batch, ListFromStdinAndFromFileMirrorFoldersWithParentsKeptInside) {
    TempDir dir;
    dir.Write("docs/x/one.pdf", tolvane_test::TextPdf({"one"}));
    dir.Write("docs/two.PDF", tolvane_test::TextPdf({"two"}));
    dir.Write("list.txt", "docs/x/one.pdf\r\n\r\n");
    const RunResult r =
        run(dir.Path, {"--from", "-", "--out-dir", "work/out"},
            "docs/two.PDF\n../" + dir.Path.filename().string() + "/docs/x/one.pdf\n");
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(fs::exists(dir.Path / "work/out/docs/two.txt"));
    EXPECT_TRUE(fs::exists(dir.Path / "work/out/__" / dir.Path.filename() / "docs/x/one.txt"));
    const RunResult fromFile = run(dir.Path, {"--from", "list.txt", "--out-dir", "out2"});
    EXPECT_EQ(fromFile.ExitCode, 0) << fromFile.Err;
    EXPECT_EQ(lineCount(fromFile.Out), 1u);
    EXPECT_TRUE(fs::exists(dir.Path / "out2/docs/x/one.txt"));
}

TEST(Batch, SkipDoneSkipsInputsOlderThanTheirTextAndRedoesNewerOnes) {
    TempDir dir;
    const std::string a = dir.Write("a.pdf", tolvane_test::TextPdf({"a"}));
    dir.Write("b.pdf", tolvane_test::TextPdf({"b"}));
    const RunResult first = run(dir.Path, {"a.pdf", "b.pdf", "--out-dir", "out"});
    ASSERT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(field(lineOf(first.Out, "a.pdf"), "skipped"), "<missing>");

    // a.pdf changes after its text was written.
    fs::last_write_time(a, fs::last_write_time(dir.Path / "out/a.txt") + std::chrono::seconds(2));
    const RunResult second = run(dir.Path, {"a.pdf", "b.pdf", "--out-dir", "out", "--skip-done"});
    EXPECT_EQ(second.ExitCode, 0) << second.Err;
    EXPECT_EQ(field(lineOf(second.Out, "b.pdf"), "skipped"), "true");
    EXPECT_EQ(field(lineOf(second.Out, "b.pdf"), "status"), "\"ok\"");
    EXPECT_EQ(field(lineOf(second.Out, "a.pdf"), "skipped"), "<missing>");
    EXPECT_EQ(field(lineOf(second.Out, "a.pdf"), "pages"), "1");
}

TEST(Batch, UsageErrorsExitOne) {
    TempDir dir;
    dir.Write("a.pdf", tolvane_test::TextPdf({"a"}));
    EXPECT_EQ(run(dir.Path, {"--out-dir", "out"}).ExitCode, 1); // no inputs
    EXPECT_EQ(run(dir.Path, {"a.pdf"}).ExitCode, 1);            // no --out-dir
    EXPECT_EQ(run(dir.Path, {"a.pdf", "--out-dir", "out", "--layout", "rows"}).ExitCode, 1);
    EXPECT_EQ(run(dir.Path, {"--from", "missing.txt", "--out-dir", "out"}).ExitCode, 1);
    // Batch always reads leniently; --repair is accepted as for the other commands.
    EXPECT_EQ(run(dir.Path, {"a.pdf", "--out-dir", "out", "--repair"}).ExitCode, 0);
}
