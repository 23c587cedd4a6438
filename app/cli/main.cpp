// tolvane-text: the command line of the extractor, for scripts, batch work and tests.
//
//   tolvane-text info FILE [--password PW] [--repair]
//   tolvane-text page-text FILE --page N --option K [--password PW] [--encoding cp1252|utf-8]
//                          [--repair]
//   tolvane-text extract FILE [-o OUT|-] [--layout order|smart|position] [--range A-B]
//                        [--filter all|odd|even] [--header TEXT] [--footer TEXT] [--password PW]
//                        [--encoding cp1252|utf-8]
//   tolvane-text batch [FILES... | --from LIST|-] --out-dir DIR [-j N] ...   (Batch.h)
//   tolvane-text text FILE...|- [OUT|-] [-o OUT|DIR/] ...                    (TextCommand.h)
//
// info and page-text write bytes with LF line ends; numbers are written without the process
// locale; what the engine's answers hide (a page outside the document, a password not
// accepted) is said on stderr, stdout stays the engine's answers. extract is the application's
// opening and run (app/core) with its log on stderr. Every command that takes --password also
// takes --password-file and the TOLVANE_PASSWORD environment variable (Password.h).

#include <CLI/CLI.hpp>


#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Batch.h"
#include "ExitCodes.h"
#include "Extraction.h"
#include "Locale.h"
#include "Names.h"
#include "Options.h"
#include "Password.h"
#include "Settings.h"
#include "TextCommand.h"
#include "facade/uKorvel.h"
#include "file/uPDFExtra.h"

namespace {

using namespace tolvane_cli; // the exit codes

void writeBytes(std::FILE* out, std::string_view bytes) {
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), out);
}

void appendInt(std::string& out, long long value) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec == std::errc())
        out.append(buffer, end);
}

// Loads FILE into the facade; on failure reports it the way the application does.
bool loadOrReport(korvel::TKorvel& korvel, const std::string& fileName) {
    if (korvel.LoadFromFile(fileName))
        return true;
    writeBytes(stderr, "Can not load file: " + fileName + ". It is may be not a valid PDF file.\n");
    return false;
}

// A warning on stderr where the engine's answer hides a problem; stdout is left as it is.
void warn(const std::string& fileName, const std::string& message) {
    std::fflush(stdout);
    writeBytes(stderr, "tolvane-text: " + fileName + ": " + message + "\n");
}

// Says so when the document's text is unreadable for want of a password or of a supported
// encryption, after `password` (when given) was applied with the answer `applied`.
void warnUnreadable(korvel::TKorvel& korvel, const std::string& fileName,
                    const std::string* password, int applied) {
    const int encrypted = korvel.Encrypted();
    if (encrypted == 2) {
        warn(fileName, "the document's encryption is not supported; its text is not readable");
        return;
    }
    if (encrypted != 1 || korvel.SecurityInfo(1) != 3)
        return;
    if (!password)
        warn(fileName, "a password is needed and none was given; the document's text is not "
                       "readable");
    else if (applied != 1 && applied != 2 && applied != 5)
        warn(fileName, "the password was not accepted; the document's text is not readable");
}

int runInfo(const std::string& fileName, const std::string* password, bool repair) {
    korvel::TKorvel korvel;
    korvel.SetLenientReading(repair);
    if (!loadOrReport(korvel, fileName))
        return kExitLoad;

    // One line buffer for everything: a document claiming two billion pages costs output, not
    // memory.
    std::string line;
    line.reserve(128);
    auto emit = [&line] {
        line += '\n';
        writeBytes(stdout, line);
        line.clear();
    };

    line += "Encrypted: ";
    appendInt(line, korvel.Encrypted());
    emit();
    int applied = 0;
    if (password) {
        applied = korvel.SetPassword(*password);
        line += "SetPassword: ";
        appendInt(line, applied);
        emit();
    }
    warnUnreadable(korvel, fileName, password, applied);
    line += "SecurityInfo:";
    for (int item = 0; item <= 10; ++item) {
        line += ' ';
        appendInt(line, korvel.SecurityInfo(item));
    }
    emit();
    const int pageCount = korvel.PageCount();
    line += "PageCount: ";
    appendInt(line, pageCount);
    emit();
    for (int page = 1; page <= pageCount && page > 0; ++page) {
        korvel.SelectPage(page);
        line += "Page ";
        appendInt(line, page);
        line += ": ";
        line += korvel::PDFNumberText(korvel.PageWidth());
        line += ' ';
        line += korvel::PDFNumberText(korvel.PageHeight());
        emit();
    }
    std::fflush(stdout);
    return kExitOk;
}

int runPageText(const std::string& fileName, const std::string* password,
                const std::vector<int>& pages, int option, korvel::TTextEncoding encoding,
                bool repair) {
    korvel::TKorvel korvel;
    korvel.SetLenientReading(repair);
    korvel.SetTextEncoding(encoding);
    if (!loadOrReport(korvel, fileName))
        return kExitLoad;
    const int applied = password ? korvel.SetPassword(*password) : 0;
    warnUnreadable(korvel, fileName, password, applied);
    if (option < 0 || option > 4)
        warn(fileName, "option " + std::to_string(option) + " is not one of 0-4; it gives no text");
    // SetPassword may load the document again, which selects page 1.
    int selected = korvel.PageCount() > 0 ? 1 : 0;
    for (const int page : pages) {
        if (korvel.SelectPage(page) == 1) {
            selected = page;
        } else {
            const int count = korvel.PageCount();
            const std::string stays = "; page " + std::to_string(selected) + " stays selected";
            if (count <= 0)
                warn(fileName, "page " + std::to_string(page) +
                                   " is outside the document, which has no pages");
            else if (page < 1 || page > count)
                warn(fileName, "page " + std::to_string(page) + " is outside 1-" +
                                   std::to_string(count) + stays);
            else
                warn(fileName, "page " + std::to_string(page) +
                                   " is not in the document's page tree; it gives no text");
        }
        writeBytes(stdout, korvel.GetPageText(option));
    }
    std::fflush(stdout);
    return kExitOk;
}

// "A-B" or a single page "N"; numbers of 32 bits, not negative.
std::optional<std::pair<int, int>> parseRange(const std::string& text) {
    const auto readNumber = [](std::string_view digits, int& value) {
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return ec == std::errc() && end == digits.data() + digits.size();
    };
    const std::string_view view(text);
    const std::size_t dash = view.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string_view::npos) {
        if (!readNumber(view, first))
            return std::nullopt;
        return std::make_pair(first, first);
    }
    if (!readNumber(view.substr(0, dash), first) || !readNumber(view.substr(dash + 1), last))
        return std::nullopt;
    return std::make_pair(first, last);
}

// The log on stderr: each message on its own lines (its CR LF written as LF). The progress
// line counts in place on a terminal; elsewhere only its last state is written, once, before
// the next message.
class TStderrLog {
public:
    TStderrLog() : FTerminal(isatty(2) == 1) {}
    void Add(const std::string& message) {
        EndProgress();
        std::string text;
        for (std::size_t i = 0; i < message.size(); ++i) {
            if (message.compare(i, 2, "\r\n") == 0)
                ++i;
            text += message[i];
        }
        writeBytes(stderr, tolvane::ValidUtf8(text) + "\n");
        std::fflush(stderr);
    }
    void Progress(int page) {
        FProgress = "Extracting page " + std::to_string(page) + ". Press Stop button to terminate";
        if (FTerminal) {
            writeBytes(stderr, "\r" + FProgress);
            std::fflush(stderr);
        }
    }
    void EndProgress() {
        if (FProgress.empty())
            return;
        writeBytes(stderr, FTerminal ? std::string("\n") : FProgress + "\n");
        FProgress.clear();
    }

private:
    bool FTerminal;
    std::string FProgress;
};

// The text kept back (in a spool) and written to stdout when the run commits it: a failed run
// writes nothing there either.
class TStdoutOutput final : public tolvane::TOutput {
public:
    bool Open() override { return true; }
    bool Write(std::string_view bytes) override { return FText.Append(bytes); }
    bool Commit() override {
        const bool drained = FText.Drain([](std::string_view bytes) {
            writeBytes(stdout, bytes);
            return true;
        });
        return drained && std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
    std::string ErrorString() const override { return "Can not write to stdout"; }

private:
    tolvane::TSpool FText;
};

tolvane::TExtraction* gRunning = nullptr;

extern "C" void stopOnInterrupt(int) {
    if (gRunning)
        gRunning->aStopExecute(); // an atomic store
}

struct TExtractOptions {
    std::string File;
    std::string Out;
    std::string Layout = "smart";
    std::string Range;
    std::string Filter = "all";
    std::string Header;
    std::string Footer = " = Page &p =";
    std::optional<std::string> Password;
    korvel::TTextEncoding Encoding = korvel::TTextEncoding::Cp1252;
    bool Quiet = false;
};

// The log lines that tell how a run goes; -q leaves them out, and keeps every other message.
bool isProgressMessage(const std::string& message) {
    return message.starts_with("Current file is: ") ||
           message.starts_with("Begin to extract from ") || message == "Extraction finished";
}

int runExtract(const TExtractOptions& options) {
    std::optional<std::pair<int, int>> range;
    if (!options.Range.empty()) {
        range = parseRange(options.Range);
        if (!range) {
            std::fprintf(stderr, "--range: expected A-B or N (page numbers), not %s\n",
                         options.Range.c_str());
            return kExitUsage;
        }
    }
    // Defaults are the settings' defaults; the stored settings are neither read nor written.
    tolvane::TSettings settings;
    settings.SetTextType(static_cast<std::uint8_t>(*tolvane::LayoutFromName(options.Layout)));
    settings.SetPageFilter(static_cast<std::uint8_t>(*tolvane::FilterFromName(options.Filter)));
    settings.SetHeader(options.Header);
    settings.SetFooter(options.Footer);

    TStderrLog log;
    int asked = 0;
    bool failedRun = false;
    tolvane::TExtractionHooks hooks;
    hooks.AddLog = [&log, &options](const std::string& message) {
        if (!options.Quiet || !isProgressMessage(message))
            log.Add(message);
    };
    hooks.ShowProgress = [&log, &options](int page) {
        if (!options.Quiet)
            log.Progress(page);
    };
    hooks.ShowError = [&log, &failedRun](const std::string& message) {
        failedRun = true;
        log.Add(message);
    };
    hooks.AskYesNo = [](const std::string&) { return false; };
    hooks.AskPassword = [&](const std::string& prompt,
                            const std::string&) -> std::optional<std::string> {
        ++asked;
        if (options.Password) // given once: a wrong one is not asked again
            return asked == 1 ? options.Password : std::nullopt;
        if (asked > kPasswordAttempts || isatty(0) != 1)
            return std::nullopt;
        return tolvane_cli::ReadHidden(tolvane::ValidUtf8(prompt));
    };
    const std::string outPath = options.Out;
    hooks.AskSaveFile = [&outPath](const std::string& suggested) -> std::optional<std::string> {
        return outPath.empty() ? suggested : outPath;
    };
    if (options.Out == "-")
        hooks.MakeOutput = [](const std::string&) -> std::unique_ptr<tolvane::TOutput> {
            return std::make_unique<TStdoutOutput>();
        };

    // Said before an exit the log has not explained, naming the file.
    const auto fail = [&options](int code, const std::string& message) {
        std::fflush(stdout);
        writeBytes(stderr, "tolvane-text: " + options.File + ": " + message + "\n");
        return code;
    };
    tolvane::TExtraction extraction(settings, std::move(hooks));
    extraction.SetTextEncoding(options.Encoding);
    tolvane::TOpenResult opened = tolvane::TOpenResult::Failed;
    try {
        opened = extraction.OpenPdfFile(options.File);
    } catch (const std::exception& e) { // out of memory, say: damage only degrades
        return fail(kExitRunFailed, std::string("the file could not be opened: ") + e.what());
    }
    switch (opened) {
    case tolvane::TOpenResult::Opened:
        break;
    case tolvane::TOpenResult::Cancelled:
        return fail(kExitPassword, options.Password ? "the password was not accepted"
                                                    : "a password is needed (--password-file FILE, "
                                                      "TOLVANE_PASSWORD or --password)");
    case tolvane::TOpenResult::Failed:
        return fail(kExitRunFailed, "the file could not be opened");
    case tolvane::TOpenResult::UnknownEncryption:
        return fail(kExitLoad, "its encryption is not supported");
    default:
        return kExitLoad; // the log named the file
    }
    if (range) { // the opening reset the range to the whole file
        settings.SetRangeKind(2);
        settings.SetFirstPage(range->first);
        settings.SetLastPage(range->second);
    }
    gRunning = &extraction;
    std::signal(SIGINT, stopOnInterrupt);
    const tolvane::TRunResult result = extraction.aExtractExecute();
    std::signal(SIGINT, SIG_DFL);
    gRunning = nullptr;
    switch (result) {
    case tolvane::TRunResult::Finished:
        return kExitOk;
    case tolvane::TRunResult::Stopped:
        return kExitStopped;
    case tolvane::TRunResult::LoadFailed:
        return kExitLoad;
    case tolvane::TRunResult::PasswordRejected:
        return kExitPassword;
    case tolvane::TRunResult::OutputIsInput:
        return kExitUsage;
    case tolvane::TRunResult::Failed:
        if (failedRun)
            return kExitRunFailed;
        return fail(kExitLoad, "its encryption is not supported");
    default:
        return fail(failedRun ? kExitRunFailed : kExitLoad, "nothing was extracted");
    }
}

// Every page takes and frees buffers of about one size, many above the size the C library
// maps apart by default and gives back when freed: kept in the heap, they are used again
// instead of being faulted in afresh page after page. Peak memory is what the largest page
// needs, as before.
void keepFreedMemory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

} // namespace

int main(int argc, char** argv) {
    keepFreedMemory();
    CLI::App app{"Tolvane Text Extractor: PDF text on the command line", "tolvane-text"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tolvane-text ") + TOLVANE_VERSION);
    app.set_help_all_flag("--help-all", "Print the help of every command and exit");

    std::string file;
    tolvane_cli::TPasswordArgs infoPassword;
    tolvane_cli::TPasswordArgs pageTextPassword;
    tolvane_cli::TPasswordArgs extractPassword;

    CLI::App* info = app.add_subcommand("info", "Encryption, security answers and page sizes");
    info->add_option("FILE", file, "PDF file")->required();
    tolvane_cli::AddPasswordOptions(*info, infoPassword, "Password to apply");
    bool repair = false;
    const char* repairHelp = "Read leniently: reconstruct a damaged file, mend stream lengths";
    info->add_flag("--repair", repair, repairHelp);

    CLI::App* pageText = app.add_subcommand("page-text", "Text of pages for an extraction option");
    std::vector<int> pages;
    int option = 0;
    pageText->add_option("FILE", file, "PDF file")->required();
    pageText->add_option("--page", pages, "Page number (may repeat)")->required();
    pageText->add_option("--option", option, "Extraction option 0 to 4")->required();
    tolvane_cli::AddPasswordOptions(*pageText, pageTextPassword, "Password to apply");
    std::string encoding = "cp1252";
    tolvane_cli::AddEncodingOption(*pageText, encoding, "Text encoding: cp1252 or utf-8");
    pageText->add_flag("--repair", repair, repairHelp);

    CLI::App* extract = app.add_subcommand(
        "extract", "The desktop program's extraction run: the text of the chosen pages into one "
                   "text file, Windows-1252 and CR LF unless asked, framed by a header and a "
                   "footer (see `text` for scripts). Log on stderr; exit 0 finished, 1 usage or "
                   "the output is the input, 2 file not loaded or encryption unsupported, 3 "
                   "password missing or wrong, 4 the run failed (nothing written), 130 stopped "
                   "by Ctrl-C (the pages done are written)");
    TExtractOptions ex;
    std::string extractEncoding = "cp1252";
    extract->add_option("FILE", ex.File, "PDF file")->required();
    extract->add_option("-o", ex.Out, "Output file, - for stdout (default: FILE with .txt)");
    extract
        ->add_option("--layout", ex.Layout,
                     "order (content order), smart (rows), position, or reading (reading order)")
        ->check(CLI::IsMember({"order", "smart", "position", "reading"}))
        ->capture_default_str();
    extract->add_option("--range", ex.Range, "Pages A-B or N (default: all pages)");
    extract->add_option("--filter", ex.Filter, "all, odd or even pages (by page number)")
        ->check(CLI::IsMember({"all", "odd", "even"}))
        ->capture_default_str();
    extract->add_option("--header", ex.Header,
                        "Header line (UTF-8; &p page, &a page count, &f path, &n name, &d date; "
                        "default: none)");
    extract->add_option("--footer", ex.Footer, "Footer line, same placeholders; \"\" for none")
        ->capture_default_str();
    tolvane_cli::AddPasswordOptions(
        *extract, extractPassword,
        "Password (default: TOLVANE_PASSWORD, else asked on a terminal, without echo)");
    tolvane_cli::AddEncodingOption(*extract, extractEncoding, "Text encoding: cp1252 or utf-8");
    extract->add_flag("-q,--quiet", ex.Quiet, "No progress lines (errors are still shown)");

    tolvane_cli::TBatchOptions batchOptions;
    CLI::App* batch = tolvane_cli::AddBatchCommand(app, batchOptions);
    tolvane_cli::TTextOptions textOptions;
    CLI::App* text = tolvane_cli::AddTextCommand(app, textOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help goes to stdout with exit 0; every usage error exits 1 with CLI11's message.
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    // The password of a command, from its options or the environment.
    std::optional<std::string> password;
    const auto resolve = [&password](const tolvane_cli::TPasswordArgs& args) {
        try {
            password = tolvane_cli::ResolvePassword(args);
            return true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tolvane-text: %s\n", e.what());
            return false;
        }
    };
    if (batch->parsed())
        return tolvane_cli::RunBatch(batchOptions);
    if (text->parsed())
        return tolvane_cli::RunText(textOptions);
    if (info->parsed()) {
        if (!resolve(infoPassword))
            return kExitUsage;
        return runInfo(file, password ? &*password : nullptr, repair);
    }
    if (pageText->parsed()) {
        if (!resolve(pageTextPassword))
            return kExitUsage;
        try {
            return runPageText(file, password ? &*password : nullptr, pages, option,
                               *tolvane::EncodingFromName(encoding), repair);
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "tolvane-text: %s\n", e.what());
            return kExitUsage;
        }
    }
    if (!resolve(extractPassword))
        return kExitUsage;
    ex.Password = password;
    ex.Encoding = *tolvane::EncodingFromName(extractEncoding);
    return runExtract(ex);
}
