#include "TextCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>

#include "ExitCodes.h"
#include "Extraction.h"
#include "Locale.h"
#include "Names.h"
#include "Options.h"
#include "OutputFile.h"
#include "RText.h"
#include "TextRun.h"
#include "facade/uKorvel.h"

namespace tolvane_cli {

namespace {

// A selection longer than tolvane::kUnlocatableTail is checked against the pages the file's
// tree can reach, so a file claiming billions of pages costs a walk of its tree, not billions
// of empty pages.
using tolvane::kUnlocatableTail;

// A message on stderr, naming the file it is about.
void report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "tolvane-text: %s: %s\n", file.c_str(), message.c_str());
}

bool startsWithPdfHeader(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char head[5] = {};
    const bool pdf = std::fread(head, 1, sizeof head, file) == sizeof head &&
                     std::string_view(head, sizeof head) == "%PDF-";
    std::fclose(file);
    return pdf;
}

bool endsWithPdf(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".pdf";
}

std::string readAll(std::FILE* in) {
    std::string bytes;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.append(buffer, got);
    return bytes;
}

// One line of JSON for a page: its number, its reading text (words apart by a space, lines by
// LF, blocks by an empty line) and its words with their boxes, as --words gives them.
std::string pageJson(korvel::TKorvel& engine, std::int64_t page) {
    const std::vector<korvel::TPageWord> words = engine.GetPageWords();
    nlohmann::ordered_json line;
    line["page"] = page;
    std::string text;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const korvel::TPageWord* previous = nullptr;
    const auto rounded = [](double value) { return std::round(value * 100) / 100; };
    for (const korvel::TPageWord& word : words) {
        if (previous)
            text += word.Block != previous->Block ? "\n\n"
                    : word.Line != previous->Line ? "\n"
                                                  : " ";
        text += word.Text;
        previous = &word;
        nlohmann::ordered_json item;
        item["x0"] = rounded(word.X0);
        item["top"] = rounded(word.Top);
        item["x1"] = rounded(word.X1);
        item["bottom"] = rounded(word.Bottom);
        item["size"] = rounded(word.Size);
        item["block"] = word.Block;
        item["line"] = word.Line;
        item["word"] = word.Word;
        item["text"] = word.Text;
        list.push_back(std::move(item));
    }
    line["text"] = text;
    line["words"] = std::move(list);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

// What -v says of a file's text layer once its pages are read in reading order: none at all
// (a scan without recognised text), or glyphs that are mostly without text (a font that maps
// its codes to nothing).
std::string textLayerNote(const korvel::TKorvel& engine) {
    const std::size_t mapped = engine.MappedGlyphTotal();
    const std::size_t unmapped = engine.UnmappedGlyphTotal();
    if (mapped == 0 && unmapped == 0)
        return "no text layer";
    if (unmapped > mapped)
        return "unmapped glyphs: " + std::to_string(unmapped) + " of " +
               std::to_string(mapped + unmapped) + " shown glyphs have no text";
    return {};
}

struct TPlan {
    std::vector<std::string> Inputs;
    std::vector<std::string> Outputs; // one per input; "-" for stdout
};

// Where each input's text goes. Two names without -o are FILE OUT, unless the second is a
// PDF file: `text a.pdf b.pdf` means two inputs and never writes over b.pdf.
std::optional<TPlan> planOutputs(const TTextOptions& options) {
    TPlan plan;
    plan.Inputs = options.Files;
    std::string out = options.Out;
    if (out.empty() && plan.Inputs.size() == 2 && !endsWithPdf(plan.Inputs[1]) &&
        !startsWithPdfHeader(plan.Inputs[1])) {
        out = plan.Inputs[1];
        plan.Inputs.pop_back();
    }
    if (out.empty() || out == "-") {
        plan.Outputs.assign(plan.Inputs.size(), "-");
        return plan;
    }
    std::error_code error;
    const bool folder = out.back() == '/' || std::filesystem::is_directory(out, error);
    if (!folder) {
        if (plan.Inputs.size() > 1) {
            std::fprintf(stderr,
                         "tolvane-text: -o %s: with several files, -o names a folder "
                         "(end it with /) or - for standard output\n",
                         out.c_str());
            return std::nullopt;
        }
        plan.Outputs.push_back(out);
        return plan;
    }
    std::set<std::string> seen;
    for (const std::string& input : plan.Inputs) {
        std::filesystem::path name =
            input == "-" ? std::filesystem::path("stdin") : std::filesystem::path(input).filename();
        name.replace_extension(".txt");
        const std::string path = (std::filesystem::path(out) / name).string();
        if (!seen.insert(path).second) {
            std::fprintf(stderr, "tolvane-text: %s: two inputs would both be written to %s\n",
                         input.c_str(), path.c_str());
            return std::nullopt;
        }
        plan.Outputs.push_back(path);
    }
    std::filesystem::create_directories(out, error);
    if (error) {
        std::fprintf(stderr, "tolvane-text: -o %s: %s\n", out.c_str(), error.message().c_str());
        return std::nullopt;
    }
    return plan;
}

struct TRun {
    const TTextOptions& Options;
    const tolvane::TPageList& Pages;
    int Filter;
    tolvane::TScriptTextOptions Text;
    korvel::TTextEncoding Encoding;
    std::optional<std::string> Password;
    bool MayPrompt;
};

// Applies the password a document needs; false (after saying why) when it stays unreadable.
bool unlock(korvel::TKorvel& engine, const std::string& input, const TRun& run) {
    if (engine.Encrypted() != 1 || engine.SecurityInfo(1) != 3)
        return true;
    const auto accepted = [&engine](const std::string& password) {
        const int result = engine.SetPassword(password);
        return result == 1 || result == 2 || result == 5;
    };
    if (run.Password) {
        if (accepted(*run.Password))
            return true;
        report(input, "the password was not accepted");
        return false;
    }
    if (run.MayPrompt && input != "-") {
        const std::string prompt = "\"" + tolvane::ValidUtf8(input.substr(input.rfind('/') + 1)) +
                                   "\" needs password to open:";
        for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
            const std::optional<std::string> typed = ReadHidden(prompt);
            if (!typed)
                break;
            if (accepted(*typed))
                return true;
        }
    }
    report(input, "a password is needed (--password-file FILE, TOLVANE_PASSWORD or --password)");
    return false;
}

// One input into `text`; an exit code.
int extractOne(const std::string& input, const TRun& run, tolvane::TSpool& text,
               tolvane::TOutput* output) {
    korvel::TKorvel engine;
    engine.SetLenientReading(true); // damaged files are read as far as they can be
    engine.SetTextEncoding(run.Options.Json ? korvel::TTextEncoding::Utf8 : run.Encoding);
    const int loaded =
        input == "-" ? engine.LoadFromBytes(readAll(stdin)) : engine.LoadFromFile(input);
    if (loaded != 1) {
        report(input, "can not be loaded; it may not be a PDF file");
        return kExitLoad;
    }
    if (engine.Encrypted() == 2) {
        report(input, "its encryption is not supported");
        return kExitLoad;
    }
    if (!unlock(engine, input, run))
        return kExitPassword;

    const std::int64_t pageCount = engine.PageCount();
    const std::string problem = tolvane::CheckPageList(run.Pages, pageCount, run.Filter);
    if (!problem.empty()) {
        report(input, problem);
        return kExitUsage;
    }
    const std::int64_t selected = tolvane::CountListedPages(run.Pages, pageCount, run.Filter);
    std::int64_t reach = -1;
    if (selected > kUnlocatableTail)
        reach = engine.LocatablePageBound();

    const tolvane::TLayoutLocale locale = tolvane::TLayoutLocale::System(run.Encoding);
    const std::string& file = input;
    const std::string date =
        tolvane::NeedsDate(run.Text.Header) || tolvane::NeedsDate(run.Text.Footer)
            ? tolvane::ShortDateToday()
            : std::string();
    if (output && !output->Open()) {
        report(input, "can not write the text: " + output->ErrorString());
        return kExitRunFailed;
    }
    std::int64_t done = 0;
    bool beyondTree = false;
    try {
        tolvane::ForEachListedPage(run.Pages, pageCount, run.Filter, [&](std::int64_t page) {
            if (reach >= 0 && page > reach) {
                beyondTree = true;
                return true; // an unreachable page would be empty; the list may come back
            }
            engine.SelectPage(static_cast<int>(page));
            std::string piece =
                run.Options.Json ? pageJson(engine, page)
                : run.Options.Words
                    ? (done == 0 ? std::string(tolvane::kWordColumns) : std::string()) +
                          tolvane::WordLines(engine, page)
                    : tolvane::ScriptPageText(engine, page, pageCount, file, date, run.Text,
                                              locale);
            if (output) {
                if (!output->Write(piece))
                    throw std::runtime_error("can not write the text: " + output->ErrorString());
            } else {
                if (!text.Append(piece))
                    throw std::runtime_error("can not keep the text: " +
                                             std::string(std::strerror(text.Error())));
            }
            ++done;
            if (run.Options.Verbose)
                std::fprintf(stderr, "%s: page %lld (%lld of %lld)\n", input.c_str(),
                             static_cast<long long>(page), static_cast<long long>(done),
                             static_cast<long long>(selected));
            return true;
        });
        if (output && !output->Commit())
            throw std::runtime_error("can not write the text: " + output->ErrorString());
    } catch (const std::exception& e) {
        text.Clear();
        report(input, std::string("the extraction failed: ") + e.what());
        return kExitRunFailed;
    }
    if (beyondTree)
        report(input, "pages after " + std::to_string(reach) +
                          " are not in the file's page tree; they were left out");
    const bool readingRoad =
        run.Options.Json || run.Options.Words || run.Text.Layout == tolvane::kLayoutReading;
    if (run.Options.Verbose && readingRoad) {
        const std::string note = textLayerNote(engine);
        if (!note.empty())
            report(input, note);
    }
    return kExitOk;
}

} // namespace

CLI::App* AddTextCommand(CLI::App& app, TTextOptions& options) {
    CLI::App* text = app.add_subcommand(
        "text", "Text for scripts: UTF-8, LF line ends, a form feed after each page, no header "
                "or footer; silent on success. Exit 1 usage or pages, 2 not loadable or "
                "encryption unsupported, 3 password, 4 the run failed (nothing written)");
    text->add_option("FILE", options.Files,
                     "PDF files (- for stdin). Two names without -o are FILE OUT (OUT - for "
                     "stdout), unless the second is a PDF file")
        ->required();
    text->add_option("-o", options.Out,
                     "Output file, - for stdout (the default), or a folder (ending in /) that "
                     "gets one NAME.txt per input; without -o several files are concatenated "
                     "on stdout");
    text->add_option("--pages", options.Pages,
                     "Pages, a list of N, A-B and N- (to the end): 1-3,7,10- (default: all)");
    text->add_option("--filter", options.Filter, "all, odd or even pages (by page number)")
        ->check(CLI::IsMember({"all", "odd", "even"}))
        ->capture_default_str();
    text->add_option("--layout", options.Layout,
                     "reading (reading order: columns, blocks, lines), order (content order), "
                     "smart (rows) or position")
        ->check(CLI::IsMember({"order", "smart", "position", "reading"}))
        ->capture_default_str();
    AddEncodingOption(*text, options.Encoding, "Text encoding: utf-8 or cp1252");
    text->add_flag("--no-page-breaks", options.NoPageBreaks, "No form feed after each page");
    text->add_option("--header", options.Header,
                     "Header line (&p page, &a page count, &f path, &n name, &d date)");
    text->add_option("--footer", options.Footer, "Footer line, same placeholders");
    AddPasswordOptions(*text, options.Password,
                       "Password (default: TOLVANE_PASSWORD, else asked on a terminal)");
    text->add_flag("--repair", options.Repair,
                   "Accepted as for info and page-text: text, like extract, always reads damaged "
                   "files leniently");
    text->add_flag("-v,--verbose", options.Verbose, "Progress on stderr, a line a page");
    text->add_flag("--words", options.Words,
                   "Words with their boxes instead of the text: a TSV line per word (page, x0, "
                   "top, x1, bottom in points from the top left, block, line, word, text) in "
                   "reading order, after a header line");
    text->add_flag("--json", options.Json,
                   "A line of JSON per page instead of the text: {\"page\", \"text\" (reading "
                   "order), \"words\": [{\"x0\", \"top\", \"x1\", \"bottom\", \"size\", "
                   "\"block\", \"line\", \"word\", \"text\"}]}, always UTF-8")
        ->excludes("--words");
    return text;
}

int RunText(const TTextOptions& options) {
    const std::optional<tolvane::TPageList> pages = tolvane::ParsePageList(options.Pages);
    if (!pages) {
        std::fprintf(stderr,
                     "tolvane-text: --pages: expected a list of N, A-B and N- (pages "
                     "from 1, A not above B), not %s\n",
                     options.Pages.c_str());
        return kExitUsage;
    }
    std::size_t fromStdin = 0;
    for (const std::string& input : options.Files)
        fromStdin += input == "-" ? 1 : 0;
    if (fromStdin > 1 || (fromStdin == 1 && PasswordReadsStdin(options.Password))) {
        std::fprintf(stderr, "tolvane-text: standard input can be read once: give - once\n");
        return kExitUsage;
    }
    const std::optional<TPlan> plan = planOutputs(options);
    if (!plan)
        return kExitUsage;

    std::optional<std::string> password;
    try {
        password = ResolvePassword(options.Password);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tolvane-text: %s\n", e.what());
        return kExitUsage;
    }
    TRun run{options,
             *pages,
             *tolvane::FilterFromName(options.Filter),
             {},
             *tolvane::EncodingFromName(options.Encoding),
             password,
             isatty(0) == 1 && fromStdin == 0};
    run.Text.Layout = *tolvane::LayoutFromName(options.Layout);
    run.Text.PageBreaks = !options.NoPageBreaks;
    run.Text.Header = options.Header;
    run.Text.Footer = options.Footer;

    int exitCode = kExitOk;
    bool wroteToStdout = false;
    bool endedWithBreak = true;
    for (std::size_t i = 0; i < plan->Inputs.size(); ++i) {
        const std::string& input = plan->Inputs[i];
        const std::string& out = plan->Outputs[i];
        std::unique_ptr<tolvane::TOutput> output;
        if (out != "-") {
            if (input != "-" && tolvane::IsSameFile(input, out)) {
                report(input, "the output " + out + " is this file itself; nothing was written");
                exitCode = exitCode == kExitOk ? kExitUsage : exitCode;
                continue;
            }
            output = tolvane::MakeFileOutput(out);
        }
        tolvane::TSpool text; // held back until the file is done: a failed file writes nothing
        const int code = extractOne(input, run, text, output.get());
        if (code != kExitOk) {
            exitCode = exitCode == kExitOk ? code : exitCode;
            continue;
        }
        if (output)
            continue;
        if (wroteToStdout && !endedWithBreak)
            std::fputc('\f', stdout); // files apart, as pages are
        // A failing standard output is found once, at the end; a failing spool here.
        if (!text.Drain([](std::string_view bytes) {
                std::fwrite(bytes.data(), 1, bytes.size(), stdout);
                return true;
            })) {
            report(input, "can not write the text: " + std::string(std::strerror(text.Error())));
            exitCode = exitCode == kExitOk ? kExitRunFailed : exitCode;
            continue;
        }
        wroteToStdout = true;
        endedWithBreak = !text.Empty() && text.Back() == '\f';
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "tolvane-text: can not write to standard output\n");
        return exitCode == kExitOk ? kExitRunFailed : exitCode;
    }
    return exitCode;
}

} // namespace tolvane_cli
