// tolvane-text: the command line of the extractor, for scripts, batch work and tests.
//
//   tolvane-text info FILE [--password PW] [--repair]
//   tolvane-text page-text FILE --page N --option K [--password PW] [--encoding cp1252|utf-8]
//                          [--repair]
//   tolvane-text extract FILE [-o OUT|-] [--layout order|smart|position] [--range A-B]
//                        [--filter all|odd|even] [--header TEXT] [--footer TEXT] [--password PW]
//                        [--encoding cp1252|utf-8]
//   tolvane-text batch [FILES... | --from LIST|-] --out-dir DIR [-j N] ...   (Batch.h)
//
// info and page-text write bytes with LF line ends; numbers are written without the process
// locale. extract is the application's opening and run (app/core) with its log on stderr.

#include <CLI/CLI.hpp>

#include <QString>

#include <termios.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Batch.h"
#include "Extraction.h"
#include "Settings.h"
#include "facade/uKorvel.h"
#include "file/uPDFExtra.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitLoad = 2;
constexpr int kExitPassword = 3;
constexpr int kExitRunFailed = 4;
constexpr int kExitStopped = 130; // ended by Ctrl-C after the page it was on
constexpr int kPasswordAttempts = 3;

void writeBytes(std::FILE* out, const std::string& bytes) {
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
    if (password) {
        line += "SetPassword: ";
        appendInt(line, korvel.SetPassword(*password));
        emit();
    }
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
    if (password)
        korvel.SetPassword(*password);
    for (const int page : pages) {
        korvel.SelectPage(page);
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
    void Add(const QString& message) {
        EndProgress();
        QString text = message;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        writeBytes(stderr, text.toStdString() + "\n");
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

// The text kept in memory and written to stdout when the run commits it: a failed run writes
// nothing there either.
class TStdoutOutput final : public tolvane::TOutput {
public:
    bool Open() override { return true; }
    bool Write(std::string_view bytes) override {
        FText.append(bytes);
        return true;
    }
    bool Commit() override {
        writeBytes(stdout, FText);
        return std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
    QString ErrorString() const override { return QStringLiteral("Can not write to stdout"); }

private:
    std::string FText;
};

// Reads a line from the terminal on stdin with echo off; nullopt at end of input.
std::optional<std::string> readHidden(const QString& prompt) {
    writeBytes(stderr, prompt.toStdString() + " ");
    std::fflush(stderr);
    termios saved{};
    const bool haveTerminal = tcgetattr(0, &saved) == 0;
    if (haveTerminal) {
        termios hidden = saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(0, TCSAFLUSH, &hidden);
    }
    std::string line;
    bool got = false;
    for (int c = std::fgetc(stdin); c != EOF; c = std::fgetc(stdin)) {
        got = true;
        if (c == '\n')
            break;
        line += static_cast<char>(c);
    }
    if (haveTerminal)
        tcsetattr(0, TCSAFLUSH, &saved);
    writeBytes(stderr, "\n");
    if (!got)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

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
};

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
    settings.SetTextType(options.Layout == "order" ? 0 : options.Layout == "position" ? 2 : 1);
    settings.SetPageFilter(options.Filter == "odd" ? 2 : options.Filter == "even" ? 3 : 1);
    settings.SetHeader(QString::fromStdString(options.Header));
    settings.SetFooter(QString::fromStdString(options.Footer));

    TStderrLog log;
    int asked = 0;
    bool failedRun = false;
    tolvane::TExtractionHooks hooks;
    hooks.AddLog = [&log](const QString& message) { log.Add(message); };
    hooks.ShowProgress = [&log](int page) { log.Progress(page); };
    hooks.ShowError = [&log, &failedRun](const QString& message) {
        failedRun = true;
        log.Add(message);
    };
    hooks.AskYesNo = [](const QString&) { return false; };
    hooks.AskPassword = [&](const QString& prompt, const QString&) -> std::optional<QString> {
        ++asked;
        if (options.Password) // given once: a wrong one is not asked again
            return asked == 1 ? std::optional<QString>(QString::fromStdString(*options.Password))
                              : std::nullopt;
        if (asked > kPasswordAttempts || isatty(0) != 1)
            return std::nullopt;
        const std::optional<std::string> typed = readHidden(prompt);
        return typed ? std::optional<QString>(QString::fromStdString(*typed)) : std::nullopt;
    };
    const QString outPath = QString::fromStdString(options.Out);
    hooks.AskSaveFile = [&outPath](const QString& suggested) -> std::optional<QString> {
        return outPath.isEmpty() ? suggested : outPath;
    };
    if (options.Out == "-")
        hooks.MakeOutput = [](const QString&) -> std::unique_ptr<tolvane::TOutput> {
            return std::make_unique<TStdoutOutput>();
        };

    tolvane::TExtraction extraction(settings, std::move(hooks));
    extraction.SetTextEncoding(options.Encoding);
    switch (extraction.OpenPdfFile(QString::fromStdString(options.File))) {
    case tolvane::TOpenResult::Opened:
        break;
    case tolvane::TOpenResult::Cancelled:
        return kExitPassword;
    case tolvane::TOpenResult::Failed:
        return kExitRunFailed;
    default:
        return kExitLoad;
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
    default:
        return failedRun ? kExitRunFailed : kExitLoad;
    }
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Tolvane Text Extractor: PDF text on the command line", "tolvane-text"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tolvane-text ") + TOLVANE_VERSION);
    app.set_help_all_flag("--help-all", "Print the help of every command and exit");

    std::string file;
    std::string password;

    CLI::App* info = app.add_subcommand("info", "Encryption, security answers and page sizes");
    info->add_option("FILE", file, "PDF file")->required();
    CLI::Option* infoPassword = info->add_option("--password", password, "Password to apply");
    bool repair = false;
    const char* repairHelp = "Read leniently: reconstruct a damaged file, mend stream lengths";
    info->add_flag("--repair", repair, repairHelp);

    CLI::App* pageText = app.add_subcommand("page-text", "Text of pages for an extraction option");
    std::vector<int> pages;
    int option = 0;
    pageText->add_option("FILE", file, "PDF file")->required();
    pageText->add_option("--page", pages, "Page number (may repeat)")->required();
    pageText->add_option("--option", option, "Extraction option 0 to 4")->required();
    CLI::Option* pageTextPassword =
        pageText->add_option("--password", password, "Password to apply");
    std::string encoding = "cp1252";
    pageText->add_option("--encoding", encoding, "Text encoding: cp1252 (default) or utf-8")
        ->check(CLI::IsMember({"cp1252", "utf-8"}));
    pageText->add_flag("--repair", repair, repairHelp);

    CLI::App* extract = app.add_subcommand(
        "extract", "The extraction run: the text of the chosen pages into one text file. Log on "
                   "stderr; exit 0 finished, 2 file not loaded or encryption unsupported, 3 "
                   "password missing or wrong, 4 the run failed (nothing written), 130 stopped "
                   "by Ctrl-C (the pages done are written)");
    TExtractOptions ex;
    std::string extractEncoding = "cp1252";
    extract->add_option("FILE", ex.File, "PDF file")->required();
    extract->add_option("-o", ex.Out, "Output file, - for stdout (default: FILE with .txt)");
    extract->add_option("--layout", ex.Layout, "order (content order), smart (rows) or position")
        ->check(CLI::IsMember({"order", "smart", "position"}))
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
    CLI::Option* extractPassword = extract->add_option(
        "--password", password, "Password (default: asked on a terminal, without echo)");
    extract->add_option("--encoding", extractEncoding, "Text encoding: cp1252 or utf-8")
        ->check(CLI::IsMember({"cp1252", "utf-8"}))
        ->capture_default_str();

    tolvane_cli::TBatchOptions batchOptions;
    CLI::App* batch = tolvane_cli::AddBatchCommand(app, batchOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help goes to stdout with exit 0; every usage error exits 1 with CLI11's message.
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (batch->parsed())
        return tolvane_cli::RunBatch(batchOptions);
    if (info->parsed())
        return runInfo(file, infoPassword->count() > 0 ? &password : nullptr, repair);
    if (pageText->parsed()) {
        try {
            return runPageText(
                file, pageTextPassword->count() > 0 ? &password : nullptr, pages, option,
                encoding == "utf-8" ? korvel::TTextEncoding::Utf8 : korvel::TTextEncoding::Cp1252,
                repair);
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "tolvane-text: %s\n", e.what());
            return kExitUsage;
        }
    }
    if (extractPassword->count() > 0)
        ex.Password = password;
    ex.Encoding =
        extractEncoding == "utf-8" ? korvel::TTextEncoding::Utf8 : korvel::TTextEncoding::Cp1252;
    return runExtract(ex);
}
