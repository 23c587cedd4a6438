// tolvane-text: the command line of the extractor, for scripts, batch work and tests.
//
//   tolvane-text info FILE [--password PW]
//   tolvane-text page-text FILE --page N --option K [--password PW] [--encoding cp1252|utf-8]
//   tolvane-text extract FILE [-o OUT] [--layout ...] [--range A-B] [--filter ...] ...
//
// Output is bytes with LF line ends; numbers are written without the process locale.

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "facade/uKorvel.h"
#include "file/uPDFExtra.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitLoad = 2;

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

int runInfo(const std::string& fileName, const std::string* password) {
    korvel::TKorvel korvel;
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
                const std::vector<int>& pages, int option, korvel::TTextEncoding encoding) {
    korvel::TKorvel korvel;
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

int notAvailable(const char* command) {
    std::fprintf(stderr, "tolvane-text: %s is not available yet\n", command);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Tolvane Text Extractor: PDF text on the command line", "tolvane-text"};
    app.require_subcommand(1);

    std::string file;
    std::string password;

    CLI::App* info = app.add_subcommand("info", "Encryption, security answers and page sizes");
    info->add_option("FILE", file, "PDF file")->required();
    CLI::Option* infoPassword = info->add_option("--password", password, "Password to apply");

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

    CLI::App* extract = app.add_subcommand("extract", "The extraction run, headless");
    std::string out, layout, range, filter, header, footer;
    extract->add_option("FILE", file, "PDF file")->required();
    extract->add_option("-o", out, "Output file (default: FILE with .txt)");
    extract->add_option("--layout", layout, "order, smart or position")
        ->check(CLI::IsMember({"order", "smart", "position"}));
    extract->add_option("--range", range, "Pages A-B");
    extract->add_option("--filter", filter, "all, odd or even")
        ->check(CLI::IsMember({"all", "odd", "even"}));
    extract->add_option("--header", header, "Header line");
    extract->add_option("--footer", footer, "Footer line");
    extract->add_option("--password", password, "Password to apply");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help goes to stdout with exit 0; every usage error exits 1 with CLI11's message.
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (info->parsed())
        return runInfo(file, infoPassword->count() > 0 ? &password : nullptr);
    if (pageText->parsed()) {
        try {
            return runPageText(
                file, pageTextPassword->count() > 0 ? &password : nullptr, pages, option,
                encoding == "utf-8" ? korvel::TTextEncoding::Utf8 : korvel::TTextEncoding::Cp1252);
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "tolvane-text: %s\n", e.what());
            return kExitUsage;
        }
    }
    return notAvailable("extract");
}
