#include "Batch.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <new>
#include <set>
#include <string_view>

#include "ExitCodes.h"
#include "Extraction.h"
#include "Locale.h"
#include "Names.h"
#include "Options.h"
#include "OutputFile.h"
#include "Settings.h"
#include "WorkerPool.h"
#include "facade/uKorvel.h"
#include "platform/uInstalledFonts.h"

namespace tolvane_cli {

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr int kExitSomeFailed = kExitRunFailed;
// One input and where its text goes.
struct TTask {
    std::string File;
    fs::path Output;
};

// What a worker tells its parent: one line "status TAB pages TAB chars TAB text-layer TAB error",
// text-layer 0 (has text), 1 (no text) or 2 (mostly unmapped glyphs).
struct TOutcome {
    std::string Status;
    long long Pages = -1; // -1: not known
    long long Chars = -1;
    bool NoText = false; // ok, but no page gave any text (headers and footers aside)
    bool Unmapped = false; // ok, but most glyphs shown in reading order had no text
    std::string Error;
};

std::atomic<bool> gOutOfMemory{false};

void outOfMemory() {
    gOutOfMemory.store(true);
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
}

const char* signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

// The output path of an input: the input's path (".." becoming "__", the root dropped) under
// the output folder, with the extension of its name replaced by ".txt".
fs::path mirroredOutput(const fs::path& outDir, const std::string& file) {
    fs::path relative;
    for (const fs::path& part : fs::path(file).lexically_normal().relative_path()) {
        if (part == "..")
            relative /= "__";
        else if (part != "." && !part.empty())
            relative /= part;
    }
    if (relative.empty())
        relative = "document";
    relative.replace_extension(".txt");
    return outDir / relative;
}

// The text written to a temporary file beside the destination that replaces it only on
// Commit; a worker killed half way leaves the temporary file, which the parent removes. A
// destination that exists and is neither a regular file nor a folder (a FIFO, a device) is
// written in place: a rename would put a file where it was.
class TAtomicOutput final : public tolvane::TOutput {
public:
    // Counts the characters written into `chars`, which outlives the output (the run frees its
    // output before it returns), and shows each write (one page) to `watch`.
    TAtomicOutput(fs::path path, bool utf8, long long& chars,
                  std::function<void(std::string_view)> watch)
        : FPath(std::move(path)), FTemporary(TemporaryFor(FPath, getpid())), FUtf8(utf8),
          FChars(chars), FWatch(std::move(watch)) {}
    ~TAtomicOutput() override {
        if (FFile) {
            std::fclose(FFile);
            if (!FInPlace)
                std::remove(FTemporary.c_str());
        }
    }
    static fs::path TemporaryFor(const fs::path& path, pid_t worker) {
        return fs::path(path).concat(".part-" + std::to_string(worker));
    }
    bool Open() override {
        std::error_code error;
        fs::create_directories(FPath.parent_path(), error);
        FInPlace = tolvane::IsWrittenInPlace(FPath.string());
        FFile = std::fopen((FInPlace ? FPath : FTemporary).c_str(), "wb");
        return FFile != nullptr;
    }
    bool Write(std::string_view bytes) override {
        for (const char c : bytes) // characters, not bytes: UTF-8 continuation bytes don't count
            if (!FUtf8 || (static_cast<unsigned char>(c) & 0xC0) != 0x80)
                ++FChars;
        FWatch(bytes);
        return std::fwrite(bytes.data(), 1, bytes.size(), FFile) == bytes.size();
    }
    bool Commit() override {
        // Past this point a stop signal waits for the worker to report, so a complete output
        // is never reported stopped.
        HoldStopSignals();
        const bool written = std::fclose(FFile) == 0;
        FFile = nullptr;
        if (FInPlace)
            return written;
        if (!written || std::rename(FTemporary.c_str(), FPath.c_str()) != 0) {
            std::remove(FTemporary.c_str());
            return false;
        }
        return true;
    }
    std::string ErrorString() const override { return std::strerror(errno); }

private:
    fs::path FPath;
    fs::path FTemporary;
    bool FUtf8;
    bool FInPlace = false;
    std::FILE* FFile = nullptr;
    long long& FChars;
    std::function<void(std::string_view)> FWatch;
};

// Whether a page's piece of the text file holds text of its own: the piece is the page's
// header line, its text and its footer line, each ended by CR LF. A piece that does not have
// the expected header or footer (the date changed during the run) counts as text.
bool pieceHasText(std::string_view piece, std::string_view header, std::string_view footer) {
    const std::string prefix = header.empty() ? std::string() : std::string(header) + "\r\n";
    const std::string suffix =
        (footer.empty() ? std::string() : "\r\n" + std::string(footer)) + "\r\n";
    if (piece.size() < prefix.size() + suffix.size() || !piece.starts_with(prefix) ||
        !piece.ends_with(suffix))
        return true;
    const std::string_view text =
        piece.substr(prefix.size(), piece.size() - prefix.size() - suffix.size());
    return text.find_first_not_of(" \t\r\n\f") != std::string_view::npos;
}

// The extraction of one file, in the worker process.
TOutcome extractOne(const TBatchOptions& options, const TTask& task) {
    tolvane::TSettings settings;
    settings.SetTextType(static_cast<std::uint8_t>(*tolvane::LayoutFromName(options.Layout)));
    settings.SetHeader(options.Header);
    settings.SetFooter(options.Footer);
    const bool utf8 = tolvane::EncodingFromName(options.Encoding) == korvel::TTextEncoding::Utf8;

    TOutcome outcome;
    std::string lastError;
    std::string lastLog;
    long long pages = 0;
    long long chars = 0;
    bool asked = false;
    tolvane::TExtractionHooks hooks;
    hooks.AddLog = [&lastLog](const std::string& message) { lastLog = message; };
    hooks.ShowError = [&lastError](const std::string& message) { lastError = message; };
    // Whether any page gave text of its own; once one has, the rest are not looked at.
    const tolvane::TExtraction* run = nullptr;
    const std::string date =
        tolvane::NeedsDate(options.Header) || tolvane::NeedsDate(options.Footer)
            ? tolvane::ShortDateToday()
            : std::string();
    bool anyText = false;
    std::string piece;
    const auto expanded = [&](const std::string& pattern, int page) {
        if (pattern.empty())
            return std::string();
        return tolvane::EncodeText(
            tolvane::ExpandPlaceholders(pattern, page, run->OpenedPageCount(), run->CurrentFile(),
                                        date),
            utf8 ? korvel::TTextEncoding::Utf8 : korvel::TTextEncoding::Cp1252);
    };
    hooks.ShowProgress = [&](int page) { // just after the page's piece was written
        ++pages;
        if (!anyText)
            anyText = pieceHasText(piece, expanded(settings.Header(), page),
                                   expanded(settings.Footer(), page));
    };
    hooks.AskYesNo = [](const std::string&) { return false; };
    hooks.AskSaveFile = [&task](const std::string&) {
        return std::optional<std::string>(task.Output.string());
    };
    hooks.AskPassword = [&](const std::string&, const std::string&) -> std::optional<std::string> {
        if (asked || !options.Password)
            return std::nullopt;
        asked = true;
        return *options.Password;
    };
    hooks.MakeOutput = [&](const std::string&) -> std::unique_ptr<tolvane::TOutput> {
        chars = 0;
        return std::make_unique<TAtomicOutput>(task.Output, utf8, chars,
                                               [&](std::string_view bytes) {
                                                   if (!anyText)
                                                       piece = bytes;
                                               });
    };

    tolvane::TExtraction extraction(settings, std::move(hooks));
    run = &extraction;
    extraction.SetTextEncoding(utf8 ? korvel::TTextEncoding::Utf8 : korvel::TTextEncoding::Cp1252);
    const auto failed = [&](const char* status, const std::string& error) {
        outcome.Status = gOutOfMemory.load() ? "memory" : status;
        outcome.Error = tolvane::ValidUtf8(error.empty() ? lastLog : error);
        return outcome;
    };
    switch (extraction.OpenPdfFile(task.File)) {
    case tolvane::TOpenResult::Opened:
        break;
    case tolvane::TOpenResult::Cancelled:
        return failed("needs-password", options.Password
                                            ? std::string("the password does not open it")
                                            : std::string("a password is needed"));
    case tolvane::TOpenResult::UnknownEncryption:
        return failed("unsupported-encryption", std::string("unsupported security handler"));
    case tolvane::TOpenResult::LoadFailed:
        return failed("unreadable", {});
    default:
        return failed("unreadable", lastError);
    }
    switch (extraction.aExtractExecute()) {
    case tolvane::TRunResult::Finished:
        outcome.Status = "ok";
        outcome.Pages = pages;
        outcome.Chars = chars;
        outcome.NoText = !anyText;
        outcome.Unmapped = !outcome.NoText && extraction.Engine().UnmappedGlyphTotal() >
                                                  extraction.Engine().MappedGlyphTotal();
        return outcome;
    case tolvane::TRunResult::PasswordRejected:
        return failed("needs-password", lastLog);
    default:
        return failed("unreadable", lastError);
    }
}

std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

// The job of a worker: extracts and gives its outcome as one line "status TAB pages TAB chars
// TAB error".
std::string runTask(const TBatchOptions& options, const TTask& task) {
    std::set_new_handler(outOfMemory);
    TOutcome outcome;
    try {
        outcome = extractOne(options, task);
    } catch (const std::bad_alloc&) {
        outcome.Status = "memory";
        outcome.Error = "out of memory";
    } catch (const std::exception& e) {
        outcome.Status = "unreadable";
        outcome.Error = e.what();
    }
    return outcome.Status + '\t' + std::to_string(outcome.Pages) + '\t' +
           std::to_string(outcome.Chars) + '\t' + (outcome.NoText ? '1' : outcome.Unmapped ? '2' : '0') + '\t' +
           oneLine(outcome.Error) + '\n';
}

TOutcome parseOutcome(const std::string& line) {
    TOutcome outcome;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; fields.size() < 4 && (tab = line.find('\t', start)) != std::string::npos;
         start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    if (fields.size() < 4)
        return outcome;
    outcome.Status = fields[0];
    outcome.Pages = std::atoll(fields[1].c_str());
    outcome.Chars = std::atoll(fields[2].c_str());
    outcome.NoText = fields[3] == "1";
    outcome.Unmapped = fields[3] == "2";
    std::string error = line.substr(start);
    if (!error.empty() && error.back() == '\n')
        error.pop_back();
    outcome.Error = error;
    return outcome;
}

// Text for a JSON string: bytes that are not UTF-8 (file names may hold any) become U+FFFD.
std::string validUtf8(std::string_view text) {
    return tolvane::ValidUtf8(text);
}

nlohmann::ordered_json countOrNull(long long value) {
    return value < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(value);
}

// The serializer writes backspace and form feed as \b and \f; the report has always spelled
// them \u0008 and \u000c. Every backslash of serialized JSON begins a two-character escape.
std::string spellControlsAsBefore(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] != '\\' || i + 1 == json.size()) {
            out += json[i];
            continue;
        }
        const char escaped = json[++i];
        if (escaped == 'b')
            out += "\\u0008";
        else if (escaped == 'f')
            out += "\\u000c";
        else
            (out += '\\') += escaped;
    }
    return out;
}

std::string reportLine(const TTask& task, const TOutcome& outcome, double seconds, bool skipped) {
    nlohmann::ordered_json line;
    line["file"] = validUtf8(task.File);
    line["status"] = validUtf8(outcome.Status);
    line["pages"] = countOrNull(outcome.Pages);
    // A file without text counts none, though its text file holds the frames of its pages.
    line["chars"] = outcome.NoText ? nlohmann::ordered_json(0) : countOrNull(outcome.Chars);
    line["seconds"] = std::round(seconds * 1000) / 1000; // milliseconds, written shortest
    line["output"] = outcome.Status == "ok"
                         ? nlohmann::ordered_json(validUtf8(task.Output.string()))
                         : nlohmann::ordered_json(nullptr);
    line["error"] = outcome.Error.empty() ? nlohmann::ordered_json(nullptr)
                                          : nlohmann::ordered_json(validUtf8(outcome.Error));
    if (outcome.NoText)
        line["warning"] = "no text";
    else if (outcome.Unmapped)
        line["warning"] = "unmapped glyphs";
    if (skipped)
        line["skipped"] = true;
    return spellControlsAsBefore(
               line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
           '\n';
}

// Output newer than input: done by an earlier run.
bool alreadyDone(const TTask& task) {
    struct stat input {};
    struct stat output {};
    if (stat(task.File.c_str(), &input) != 0 || stat(task.Output.c_str(), &output) != 0)
        return false;
    return output.st_mtim.tv_sec > input.st_mtim.tv_sec ||
           (output.st_mtim.tv_sec == input.st_mtim.tv_sec &&
            output.st_mtim.tv_nsec > input.st_mtim.tv_nsec);
}

// The summary and, on a terminal, the progress line.
class TProgress {
public:
    explicit TProgress(std::size_t total) : FTotal(total), FTerminal(isatty(2) == 1) {}
    void Done(const TOutcome& outcome) {
        ++FDone;
        ++FByStatus[outcome.Status];
        if (outcome.NoText)
            ++FNoText;
        if (outcome.Pages > 0)
            FPages += outcome.Pages;
        if (FTerminal) {
            std::fprintf(stderr, "\r%zu/%zu files, %lld pages, %.1f pages/s ", FDone, FTotal,
                         FPages, FPages / Elapsed());
            std::fflush(stderr);
        }
    }
    void Summary() const {
        if (FTerminal && FDone > 0)
            std::fputc('\n', stderr);
        const double seconds = Elapsed();
        std::string statuses;
        for (const auto& [status, count] : FByStatus) {
            statuses += (statuses.empty() ? "" : ", ") + std::to_string(count) + ' ' + status;
            if (status == "ok" && FNoText > 0)
                statuses += " (" + std::to_string(FNoText) + " with no text)";
        }
        std::fprintf(stderr,
                     "batch: %zu files, %lld pages in %.2f s (%.1f files/s, %.1f pages/s)%s%s\n",
                     FDone, FPages, seconds, FDone / seconds, FPages / seconds,
                     statuses.empty() ? "" : ": ", statuses.c_str());
    }
    bool AllOk() const {
        return FByStatus.size() <= 1 && (FByStatus.empty() || FByStatus.count("ok"));
    }

private:
    double Elapsed() const {
        return std::max(1e-6, std::chrono::duration<double>(TClock::now() - FStart).count());
    }
    std::size_t FTotal;
    bool FTerminal;
    TClock::time_point FStart = TClock::now();
    std::size_t FDone = 0;
    long long FPages = 0;
    std::size_t FNoText = 0;
    std::map<std::string, std::size_t> FByStatus;
};

// The inputs: the files named, then those of the list.
bool readInputs(const TBatchOptions& options, std::vector<std::string>& files) {
    files = options.Files;
    if (options.From.empty())
        return true;
    std::ifstream listFile;
    std::istream* list = &std::cin;
    if (options.From != "-") {
        listFile.open(options.From);
        if (!listFile) {
            std::fprintf(stderr, "--from: can not read %s\n", options.From.c_str());
            return false;
        }
        list = &listFile;
    }
    for (std::string line; std::getline(*list, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            files.push_back(line);
    }
    return true;
}

} // namespace

CLI::App* AddBatchCommand(CLI::App& app, TBatchOptions& options) {
    CLI::App* batch = app.add_subcommand(
        "batch", "The extraction run over many files, each in its own worker process with time "
                 "and memory limits. One text file per input under --out-dir (folders "
                 "mirrored), one JSON line per input on stdout, a summary on stderr. Exit 0 "
                 "when every file is ok, 4 when some are not, 1 on usage errors");
    batch->add_option("FILES", options.Files, "PDF files");
    batch->add_option("--from", options.From, "A file listing inputs one per line, - for stdin");
    batch->add_option("--out-dir", options.OutDir, "Folder for the text files")->required();
    batch->add_option("-j,--jobs", options.Jobs, "Workers at a time (default: the number of cores)")
        ->check(CLI::NonNegativeNumber);
    batch->add_option("--layout", options.Layout, "order, smart, position or reading")
        ->check(CLI::IsMember({"order", "smart", "position", "reading"}))
        ->capture_default_str();
    AddEncodingOption(*batch, options.Encoding, "Text encoding: cp1252 or utf-8");
    AddPasswordOptions(*batch, options.PasswordArgs, "Password tried on every encrypted file");
    batch->add_flag("--repair", options.Repair,
                    "Accepted as for info and page-text: batch, like extract, always reads "
                    "damaged files leniently");
    batch->add_option("--timeout", options.Timeout, "Seconds per file, 0 for no limit")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    batch->add_option("--max-memory", options.MaxMemory, "MiB of memory per worker, 0 for no limit")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    batch->add_flag("--skip-done", options.SkipDone,
                    "Skip inputs whose text file is newer than the input");
    batch->add_option("--header", options.Header, "Header line (placeholders as for extract)");
    batch->add_option("--footer", options.Footer, "Footer line, \"\" for none")
        ->capture_default_str();
    return batch;
}

int RunBatch(const TBatchOptions& given) {
    TBatchOptions options = given;
    try {
        options.Password = ResolvePassword(given.PasswordArgs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "batch: %s\n", e.what());
        return kExitUsage;
    }
    if (PasswordReadsStdin(given.PasswordArgs) && given.From == "-") {
        std::fprintf(stderr, "batch: --password-file - and --from - both read standard input\n");
        return kExitUsage;
    }
    std::vector<std::string> files;
    if (!readInputs(options, files))
        return kExitUsage;
    if (files.empty()) {
        std::fprintf(stderr, "batch: no input files (name them, or give --from LIST)\n");
        return kExitUsage;
    }
    std::error_code error;
    fs::create_directories(options.OutDir, error);
    if (!fs::is_directory(options.OutDir)) {
        std::fprintf(stderr, "--out-dir: can not make the folder %s\n", options.OutDir.c_str());
        return kExitUsage;
    }

    std::vector<TTask> tasks;
    std::set<fs::path> outputs;
    for (const std::string& file : files) {
        fs::path output = mirroredOutput(options.OutDir, file);
        if (!outputs.insert(output).second) // a.pdf and a.PDF: the second keeps its extension
            output = mirroredOutput(options.OutDir, file + ".txt");
        outputs.insert(output);
        tasks.push_back({file, output});
    }

    // Made once here, the installed-font list is inherited by every worker instead of being
    // built again by each.
    korvel::InstalledFonts().FamilyList();

    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    const std::size_t jobs =
        static_cast<std::size_t>(options.Jobs > 0 ? options.Jobs : std::max(1L, cores));
    TWorkerPool pool(jobs, {options.Timeout, static_cast<long long>(options.MaxMemory) << 20});
    TProgress progress(tasks.size());
    std::size_t next = 0;

    const auto report = [&](const TTask& task, const TOutcome& outcome, double seconds,
                            bool skipped) {
        const std::string line = reportLine(task, outcome, seconds, skipped);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        progress.Done(outcome);
    };
    const auto finish = [&](const TWorkerEnd& end) {
        const TTask& task = tasks[end.Job];
        TOutcome outcome = parseOutcome(end.Bytes);
        const int status = end.WaitStatus;
        if (end.Killed == TWorkerKill::Stop && outcome.Status.empty()) {
            outcome = {};
            outcome.Status = "stopped";
            outcome.Error =
                std::string("the batch was stopped by ") + signalName(pool.StopSignal());
        } else if (end.Killed != TWorkerKill::None && outcome.Status.empty()) {
            // not one that finished as it was killed
            outcome = {};
            outcome.Status = end.Killed == TWorkerKill::Timeout ? "timeout" : "memory";
            outcome.Error = end.Killed == TWorkerKill::Timeout ? "stopped after the time limit"
                                                               : "stopped at the memory limit";
        } else if (outcome.Status.empty()) {
            outcome = {};
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) {
                outcome.Status = "timeout";
                outcome.Error = "stopped after the processor-time limit";
            } else {
                outcome.Status = "crashed";
                outcome.Error =
                    WIFSIGNALED(status)
                        ? std::string("worker ended by signal ") + strsignal(WTERMSIG(status))
                        : "worker exited with code " + std::to_string(WEXITSTATUS(status)) +
                              " without a result";
            }
        }
        if (outcome.Status != "ok") {
            std::error_code ignored;
            fs::remove(TAtomicOutput::TemporaryFor(task.Output, end.Pid), ignored);
        }
        report(task, outcome, end.Seconds, false);
    };

    std::signal(SIGPIPE, SIG_IGN);
    // A stop signal ends the workers (the pool forwards it); each started input still gets its
    // line, those not started get none.
    pool.CatchStopSignals();
    const auto stopped = [&pool] { return pool.StopSignal() != 0; };
    while ((next < tasks.size() && !stopped()) || !pool.Empty()) {
        while (next < tasks.size() && !pool.Full() && !stopped()) {
            const std::size_t index = next++;
            if (tolvane::IsSameFile(tasks[index].File, tasks[index].Output.string())) {
                TOutcome refused; // doc.txt with --out-dir . would be written over itself
                refused.Status = "refused";
                refused.Error = "the output would replace the input";
                report(tasks[index], refused, 0, false);
                continue;
            }
            if (options.SkipDone && alreadyDone(tasks[index])) {
                TOutcome done;
                done.Status = "ok";
                report(tasks[index], done, 0, true);
                continue;
            }
            const TTask& task = tasks[index];
            const TWorkerStart started =
                pool.Start(index, [&options, &task] { return runTask(options, task); });
            if (started == TWorkerStart::NoPipe) {
                std::perror("batch: pipe");
                return kExitSomeFailed;
            }
            if (started == TWorkerStart::NoProcess) {
                TOutcome failed;
                failed.Status = "crashed";
                failed.Error = "can not start a worker";
                report(tasks[index], failed, 0, false);
            }
        }
        if (pool.Empty())
            continue;
        for (const TWorkerEnd& end : pool.Wait())
            finish(end);
    }
    progress.Summary();
    if (stopped())
        return 128 + pool.StopSignal();
    return progress.AllOk() ? kExitOk : kExitSomeFailed;
}

} // namespace tolvane_cli
