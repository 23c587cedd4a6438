// tolvane-text against its goldens: every case of goldens/cases.txt runs the built binary in a
// folder of its own holding a copy of its input, and its stdout, stderr, exit code and every file
// it wrote there are compared byte for byte with goldens/NAME.stdout, NAME.stderr, NAME.exit
// and NAME@FILE.
//
//   cli_goldens TOLVANE_TEXT GOLDEN_DIR            check (the ctest `cli_goldens`)
//   cli_goldens TOLVANE_TEXT GOLDEN_DIR --update   rewrite the goldens, then review `git diff`
//
// After a deliberate change of the output: `cmake --build build --target update-goldens` (or
// TOLVANE_UPDATE_GOLDENS=1 ctest -R cli_goldens). The inputs are generated below with the test
// writer; runs use relative paths, LC_ALL=C.UTF-8 and TZ=UTC, and no case uses the date `&d`.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/PdfWriter.h"
#include "support/Processes.h"

namespace fs = std::filesystem;
using tolvane_test::PdfWriter;

namespace {

// ---- The inputs ----------------------------------------------------------------------------

struct Page {
    Page(std::string content, std::string box = "[0 0 612 792]", std::string entries = {})
        : Content(std::move(content)), Box(std::move(box)), Entries(std::move(entries)) {}
    std::string Content;
    std::string Box;
    std::string Entries; // more page dictionary entries
};

// Catalog 1, pages 2, fonts from 3 (Set by the caller), pages and contents from 40.
PdfWriter pagesWriter(const std::vector<Page>& pages, const std::string& fontEntries) {
    PdfWriter w;
    w.RootObj = 1;
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(40 + 2 * i) + " 0 R ";
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int num = 40 + 2 * int(i);
        w.Set(num, "<< /Type /Page /Parent 2 0 R /MediaBox " + pages[i].Box + " /Contents " +
                       std::to_string(num + 1) + " 0 R /Resources << /Font << " + fontEntries +
                       " >> >> " + pages[i].Entries + ">>");
        w.SetStream(num + 1, "", pages[i].Content);
    }
    return w;
}

const char* const kHelvetica =
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";

// Three Letter pages in Helvetica: two columns shown left column first (content order and
// rows differ), accented words and a euro sign, and two short lines.
PdfWriter plainWriter() {
    PdfWriter w = pagesWriter(
        {{"BT /F1 16 Tf 72 720 Td (Two columns) Tj ET\n"
          "BT /F1 11 Tf 72 690 Td 14 TL (Left one) Tj T* (left two) Tj ET\n"
          "BT /F1 11 Tf 320 690 Td 14 TL (Right one) Tj T* (right two) Tj ET\n"},
         {"BT /F1 12 Tf 72 720 Td (Caf\\351 cr\\350me br\\373l\\351e costs 5 \\200.) Tj ET\n"},
         {"BT /F1 12 Tf 72 720 Td (Three) Tj 0 -14 Td (and more) Tj ET\n"}},
        "/F1 3 0 R");
    w.Set(3, kHelvetica);
    return w;
}

// Simple fonts under four encodings, a composite font read through its ToUnicode map, a Type 3
// font and the symbolic dingbats.
std::string fontsPdf() {
    PdfWriter w = pagesWriter({{"BT /F1 12 Tf 72 720 Td (WinAnsi: na\\357ve \\200 \\226) Tj ET\n"
                                "BT /F2 12 Tf 72 700 Td (MacRoman: caf\\216 \\245) Tj ET\n"
                                "BT /F3 12 Tf 72 680 Td (Differences: ABC) Tj ET\n"
                                "BT /F4 12 Tf 72 660 Td <000100020003> Tj ET\n"},
                               {"BT /T3 12 Tf 72 720 Td <0102> Tj ET\n"
                                "BT /ZD 12 Tf 72 700 Td (\\063\\064 \\110) Tj ET\n"}},
                              "/F1 3 0 R /F2 4 0 R /F3 5 0 R /F4 6 0 R /T3 10 0 R /ZD 13 0 R");
    w.Set(3, kHelvetica);
    w.Set(4,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /MacRomanEncoding >>");
    w.Set(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding << /Type /Encoding "
             "/BaseEncoding /StandardEncoding /Differences [65 /Euro /ellipsis /germandbls] >> >>");
    w.Set(6, "<< /Type /Font /Subtype /Type0 /BaseFont /Composite /Encoding /Identity-H "
             "/DescendantFonts [7 0 R] /ToUnicode 8 0 R >>");
    w.Set(7, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Composite /CIDSystemInfo "
             "<< /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /W [1 [600 500 700]] "
             "/DW 1000 >>");
    w.SetStream(8, "",
                "begincmap\n1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
                "2 beginbfchar\n<0001> <03A9>\n<0002> <00E9>\nendbfchar\n"
                "1 beginbfrange\n<0003> <0003> <D835DC00>\nendbfrange\nendcmap\n");
    w.Set(10, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] "
              "/FontMatrix [0.001 0 0 0.001 0 0] /CharProcs << /H 11 0 R /i 12 0 R >> "
              "/Encoding << /Type /Encoding /Differences [1 /H /i] >> /FirstChar 1 /LastChar 2 "
              "/Widths [700 300] >>");
    w.SetStream(11, "", "700 0 d0");
    w.SetStream(12, "", "300 0 d0");
    w.Set(13, "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>");
    return w.Finish();
}

// A page turned by /Rotate and a page whose text runs upwards.
std::string rotatedPdf() {
    PdfWriter w = pagesWriter(
        {{"BT /F1 12 Tf 72 720 Td (Turned page) Tj ET\n", "[0 0 612 792]", "/Rotate 90 "},
         {"BT /F1 12 Tf 0 1 -1 0 300 100 Tm (Upwards) Tj ET\n"
          "BT /F1 12 Tf 72 720 Td (Level) Tj ET\n"}},
        "/F1 3 0 R");
    w.Set(3, kHelvetica);
    return w.Finish();
}

// Pages of four sizes; the last one's box is not at the origin and has a fraction cut off.
std::string sizesPdf() {
    std::vector<Page> pages;
    const char* boxes[] = {"[0 0 612 792]", "[0 0 595.28 841.89]", "[0 0 842 595]",
                           "[10 20 210.5 120.99999]"};
    int n = 0;
    for (const char* box : boxes)
        pages.push_back({"BT /F1 10 Tf 20 50 Td (Size " + std::to_string(++n) + ") Tj ET\n", box});
    PdfWriter w = pagesWriter(pages, "/F1 3 0 R");
    w.Set(3, kHelvetica);
    return w.Finish();
}

// Two pages whose dictionaries, font and catalog sit in an object stream, contents compressed.
std::string objstmPdf() {
    PdfWriter out;
    out.RootObj = 1;
    const std::vector<std::string> contents = {"BT /F1 12 Tf 72 720 Td (Packed one) Tj ET\n",
                                               "BT /F1 12 Tf 72 720 Td (Packed two) Tj ET\n"};
    out.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    out.Set(2, "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>");
    out.Set(3, kHelvetica);
    for (int i = 0; i < 2; ++i) {
        out.Set(4 + 2 * i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                               std::to_string(5 + 2 * i) +
                               " 0 R /Resources << /Font << /F1 3 0 R >> >> >>");
        out.SetStream(5 + 2 * i, " /Filter /FlateDecode", tolvane_test::Deflate(contents[i]));
    }
    for (int num : {1, 2, 3, 4, 6})
        out.Compress(num, 10);
    return out.Finish();
}

std::string encryptedPdf(bool aes) {
    PdfWriter w = plainWriter();
    tolvane_test::EncryptionParams params;
    params.UserPassword = "user";
    params.OwnerPassword = "owner";
    if (aes) {
        params.Version = 4;
        params.Revision = 4;
        params.Method = "AESV2";
    }
    w.Encrypt(params);
    return w.Finish();
}

// The plain file cut before its cross-reference table: only a reconstruction reads it.
std::string damagedPdf() {
    std::string bytes = plainWriter().Finish();
    bytes.resize(bytes.rfind("xref"));
    return bytes;
}

// A page that draws but shows no text.
std::string noTextPdf() {
    return pagesWriter({{"0.5 w 72 72 m 540 720 l S 100 100 200 200 re f\n"}}, "").Finish();
}

std::string unknownHandlerPdf() {
    PdfWriter w = pagesWriter({{"BT ET\n"}}, "");
    w.Set(3, "<< /Filter /ExampleVendorSecurity /V 4 /Length 128 >>");
    w.TrailerExtra = "/Encrypt 3 0 R /ID [<00112233445566778899aabbccddeeff> "
                     "<00112233445566778899aabbccddeeff>]";
    return w.Finish();
}

std::map<std::string, std::string> inputs() {
    return {{"plain.pdf", plainWriter().Finish()},
            {"fonts.pdf", fontsPdf()},
            {"rotated.pdf", rotatedPdf()},
            {"sizes.pdf", sizesPdf()},
            {"objstm.pdf", objstmPdf()},
            {"rc4.pdf", encryptedPdf(false)},
            {"aes.pdf", encryptedPdf(true)},
            {"damaged.pdf", damagedPdf()},
            {"notext.pdf", noTextPdf()},
            {"unknown.pdf", unknownHandlerPdf()},
            {"garbage.pdf", "%PDX-1.4 this is not a PDF file\n\x01\x02\x03\n"}};
}

// ---- The cases and their comparison --------------------------------------------------------

struct Case {
    std::string Name;
    std::string Input; // "-" for none
    std::vector<std::string> Args;
};

// Words split at blanks; "..." groups (with \" and \\ inside), "" is an empty argument.
std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (quoted && line[i] == '\\' && i + 1 < line.size())
                word += line[++i];
            else
                word += line[i];
        }
        words.push_back(word);
    }
    return words;
}

std::vector<Case> readCases(const fs::path& table) {
    std::vector<Case> cases;
    std::ifstream in(table);
    if (!in)
        throw std::runtime_error("cannot read " + table.string());
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> words = splitWords(line);
        if (words.size() < 2)
            throw std::runtime_error("cases.txt: a line without name and input: " + line);
        cases.push_back({words[0], words[1], {words.begin() + 2, words.end()}});
    }
    return cases;
}

using Files = std::map<std::string, std::string>; // golden file name -> bytes

Files readFolder(const fs::path& folder) {
    Files files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = tolvane_test::ReadFile(entry.path());
    return files;
}

// Runs one case in a fresh folder under `scratch`: its outputs named as their golden files.
Files runCase(const Case& c, const std::string& binary, const Files& inputFiles,
              const fs::path& scratch) {
    const fs::path work = scratch / c.Name;
    fs::create_directories(work);
    Files before;
    if (c.Input != "-") {
        before[c.Input] = inputFiles.at(c.Input);
        std::ofstream(work / c.Input, std::ios::binary) << before[c.Input];
    }
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    const tolvane_test::RunResult r = tolvane_test::RunProgram(argv, {}, scratch, work);
    Files out{{c.Name + ".stdout", r.Out},
              {c.Name + ".stderr", r.Err},
              {c.Name + ".exit", std::to_string(r.ExitCode) + "\n"}};
    for (const auto& [name, bytes] : readFolder(work))
        if (before.count(name) == 0 || before[name] != bytes)
            out[c.Name + "@" + name] = bytes;
    return out;
}

// One line for the report: control bytes and bytes above ASCII escaped.
std::string visible(const std::string& line) {
    std::string out;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else
            out += c;
    }
    return out;
}

// "CASE: stdout" for CASE.stdout, "CASE: the file it wrote out.txt" for CASE@out.txt.
std::string describe(const std::string& golden) {
    const std::size_t at = golden.find('@');
    if (at != std::string::npos)
        return golden.substr(0, at) + ": the file it wrote " + golden.substr(at + 1);
    const std::size_t dot = golden.rfind('.');
    return golden.substr(0, dot) + ": " + golden.substr(dot + 1);
}

// "line N" and both versions of the first line that differs.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::size_t start = 0;
    int line = 1;
    for (std::size_t i = 0; i < expected.size() && i < actual.size() && expected[i] == actual[i];
         ++i)
        if (expected[i] == '\n') {
            start = i + 1;
            ++line;
        }
    const auto lineAt = [start](const std::string& text) {
        const std::size_t end = text.find('\n', start);
        return start >= text.size()
                   ? std::string("(end of output)")
                   : visible(text.substr(start, end == std::string::npos ? std::string::npos
                                                                         : end - start + 1));
    };
    return "line " + std::to_string(line) + "\n    expected: " + lineAt(expected) +
           "\n    actual:   " + lineAt(actual);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--update")) {
        std::cerr << "usage: cli_goldens TOLVANE_TEXT GOLDEN_DIR [--update]\n";
        return 2;
    }
    const char* updateVariable = std::getenv("TOLVANE_UPDATE_GOLDENS");
    const bool update = argc == 4 || (updateVariable && std::string(updateVariable) == "1");
    const std::string binary = fs::absolute(argv[1]).string();
    const fs::path goldens = argv[2];
    // The same environment wherever the goldens run: no user locale, no local time.
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    unsetenv("LANG");
    unsetenv("LANGUAGE");

    std::vector<Case> cases;
    try {
        cases = readCases(goldens / "cases.txt");
    } catch (const std::exception& e) {
        std::cerr << "cli_goldens: " << e.what() << '\n';
        return 2;
    }
    const Files inputFiles = inputs();
    tolvane_test::TempDir scratch("tolvane_goldens_");
    Files actual;
    std::set<std::string> names;
    for (const Case& c : cases) {
        if (!names.insert(c.Name).second || (c.Input != "-" && inputFiles.count(c.Input) == 0)) {
            std::cerr << "cases.txt: case " << c.Name << " is repeated or has an unknown input\n";
            return 2;
        }
        actual.merge(runCase(c, binary, inputFiles, scratch.Path));
    }

    Files expected = readFolder(goldens);
    expected.erase("cases.txt");
    if (update) {
        for (const auto& [name, bytes] : expected)
            if (actual.count(name) == 0)
                fs::remove(goldens / name);
        for (const auto& [name, bytes] : actual)
            std::ofstream(goldens / name, std::ios::binary) << bytes;
        std::cout << "Wrote the goldens of " << cases.size() << " cases to " << goldens.string()
                  << "; review them with git diff.\n";
        return 0;
    }
    int differences = 0;
    for (const auto& [name, bytes] : actual) {
        const auto found = expected.find(name);
        if (found == expected.end())
            std::cout << describe(name) << " has no golden " << name << '\n';
        else if (found->second != bytes)
            std::cout << describe(name) << " differs from " << name << " at "
                      << firstDifference(found->second, bytes) << '\n';
        else
            continue;
        ++differences;
    }
    for (const auto& [name, bytes] : expected)
        if (actual.count(name) == 0) {
            std::cout << name
                      << ": a golden that no run gives (a case renamed or removed, or a "
                         "file no longer written)\n";
            ++differences;
        }
    std::cout << cases.size() << " cases, " << differences << " differences"
              << (differences ? " (after a deliberate change: cmake --build build --target "
                                "update-goldens, then review git diff)\n"
                              : "\n");
    return differences == 0 ? 0 : 1;
}
