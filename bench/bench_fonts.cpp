// Loading the fonts of a typical page: five standard fonts without a program (their widths
// come from the standard metrics, their program from an installed substitute) and five
// embedded fonts (Type 1, CFF, TrueType, a symbolic TrueType with a ToUnicode map, and a
// composite font over a TrueType descendant), each program Flate-compressed as writers store
// them. Measured with an empty program cache (the first page of a document) and with the
// cache a first page filled (every later page).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "document/uPDFDocument.h"
#include "fonts/uPDFFontRasterizer.h"
#include "support/FontPrograms.h"
#include "support/PdfWriter.h"

namespace {

using namespace korvel;

std::string glyphName(std::size_t g) {
    return "g" + std::to_string(g);
}

// A TrueType file of `count` custom-named glyphs with a glyf table of filler (which loading
// never reads).
std::string TrueTypeFont(std::size_t count) {
    std::vector<std::pair<std::string, int>> glyphs;
    for (std::size_t g = 0; g < count; ++g)
        glyphs.emplace_back(glyphName(g), int(500 + g));
    return tolvane_test::TrueTypeProgram(glyphs, 2048, 40);
}

// A CFF font of `count` glyphs with a format 0 charset naming them from its String INDEX.
std::string CffFont(std::size_t count) {
    std::vector<std::string> strings, charStrings(count, std::string(30, '\x0e'));
    std::string charset(1, '\0');
    for (std::size_t g = 1; g < count; ++g) {
        strings.push_back(glyphName(g));
        tolvane_test::Put16(charset, std::uint32_t(391 + g - 1));
    }
    auto top = [](std::int32_t charStringsAt, std::int32_t charsetAt) {
        std::string t(1, char(29));
        tolvane_test::Put32(t, std::uint32_t(charStringsAt));
        t += char(17);
        t += char(29);
        tolvane_test::Put32(t, std::uint32_t(charsetAt));
        return t + char(15);
    };
    const std::string head =
        std::string("\x01\x00\x04\x04", 4) + tolvane_test::CffIndex({"BenchFont"});
    const std::string tail = tolvane_test::CffIndex(strings) + tolvane_test::CffIndex({});
    const auto at =
        std::int32_t(head.size() + tolvane_test::CffIndex({top(0, 0)}).size() + tail.size());
    const std::string glyphs = tolvane_test::CffIndex(charStrings);
    return head + tolvane_test::CffIndex({top(at, at + std::int32_t(glyphs.size()))}) + tail +
           glyphs + charset;
}

// A Type 1 program: clear text with a built-in encoding, then an encrypted part of filler.
std::string Type1Clear() {
    std::string clear = "%!PS-AdobeFont-1.0: Bench 001\n11 dict begin\n/FontName /Bench def\n"
                        "/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n/Encoding 256 array\n"
                        "0 1 255 {1 index exch /.notdef put} for\n";
    for (int c = 32; c < 127; ++c)
        clear += "dup " + std::to_string(c) + " /" + glyphName(std::size_t(c)) + " put\n";
    return clear + "readonly def\n/FontBBox {0 -200 1000 800} readonly def\ncurrentdict end\n"
                   "currentfile eexec\n";
}

std::string ToUnicode() {
    std::string cmap = "begincmap\n1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
                       "1 beginbfrange\n<0020> <007E> <0020>\nendbfrange\n100 beginbfchar\n";
    for (int c = 0; c < 100; ++c) {
        char line[32];
        std::snprintf(line, sizeof line, "<%04X> <%04X>\n", 0x100 + c, 0x400 + c);
        cmap += line;
    }
    return cmap + "endbfchar\nendcmap\n";
}

struct BenchDocument {
    TPDFDocument Doc;
    TPDFStructure Refs; // the references a page's resources give
    std::vector<TPDFIndRef*> Fonts;
};

std::unique_ptr<BenchDocument> MakeDocument() {
    using tolvane_test::Deflate;
    tolvane_test::PdfWriter w;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    w.RootObj = 1;
    auto ref = [](int n) { return std::to_string(n) + " 0 R"; };
    auto flate = [&w](const std::string& dict, const std::string& data) {
        return w.AddStream("/Filter /FlateDecode " + dict, Deflate(data));
    };
    auto descriptor = [&w, &ref](int flags, const std::string& file, int stream) {
        return w.Add("<< /Type /FontDescriptor /Flags " + std::to_string(flags) +
                     " /Ascent 800 /Descent -200 /" + file + " " + ref(stream) + " >>");
    };
    std::vector<int> fonts;
    for (const char* name :
         {"Helvetica", "Helvetica-Bold", "Times-Roman", "Times-Italic", "Courier"})
        fonts.push_back(w.Add(std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + name +
                              " /Encoding /WinAnsiEncoding >>"));
    const std::string widths = "/FirstChar 32 /LastChar 126 /Widths [" + [] {
        std::string s;
        for (int c = 32; c < 127; ++c)
            s += std::to_string(400 + c) + " ";
        return s;
    }() + "]";
    const std::string clear = Type1Clear();
    const int type1 =
        flate("/Length1 " + std::to_string(clear.size()) + " /Length2 20000 /Length3 0",
              clear + std::string(20000, '\x5a'));
    fonts.push_back(w.Add("<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Bench " + widths +
                          " /FontDescriptor " + ref(descriptor(4, "FontFile", type1)) + " >>"));
    const int cff = flate("/Subtype /Type1C", CffFont(200));
    fonts.push_back(w.Add("<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+BenchCFF " + widths +
                          " /Encoding /WinAnsiEncoding /FontDescriptor " +
                          ref(descriptor(32, "FontFile3", cff)) + " >>"));
    const int tt = flate("", TrueTypeFont(300));
    fonts.push_back(w.Add("<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+BenchTT " + widths +
                          " /Encoding /WinAnsiEncoding /FontDescriptor " +
                          ref(descriptor(32, "FontFile2", tt)) + " >>"));
    const int symbolic = flate("", TrueTypeFont(250));
    const int toUnicode = flate("", ToUnicode());
    fonts.push_back(w.Add("<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+BenchSym " + widths +
                          " /ToUnicode " + ref(toUnicode) + " /FontDescriptor " +
                          ref(descriptor(4, "FontFile2", symbolic)) + " >>"));
    const int cid = flate("", TrueTypeFont(400));
    const int descendant =
        w.Add("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+BenchCID /DW 1000 "
              "/W [1 [500 600 700] 10 200 550 300 [400 410 420]] /CIDToGIDMap /Identity "
              "/FontDescriptor " +
              ref(descriptor(4, "FontFile2", cid)) + " >>");
    fonts.push_back(w.Add("<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+BenchCID "
                          "/Encoding /Identity-H /ToUnicode " +
                          ref(toUnicode) + " /DescendantFonts [" + ref(descendant) + "] >>"));

    auto bench = std::make_unique<BenchDocument>();
    if (!bench->Doc.LoadFromBytes(w.Finish()))
        return nullptr;
    TPDFDocument* doc = &bench->Doc;
    bench->Refs.OnResolve = [doc](const TPDFIndRef*, std::int32_t num, std::int32_t gen) {
        return doc->ResolveRef(num, gen);
    };
    for (const int font : fonts)
        bench->Fonts.push_back(bench->Refs.CreateRef(font, 0));
    return bench;
}

void LoadPage(const BenchDocument& bench, TPDFFontProgramCache* cache) {
    TPDFFontCollection fonts(TTextEncoding::Cp1252, cache);
    fonts.LoadPrograms = true;
    TPDFWidths widths;
    TPDFTextVector text;
    for (const TPDFIndRef* ref : bench.Fonts)
        fonts.SelectFont(ref, widths, text);
    benchmark::DoNotOptimize(fonts.Current().Text[65].data());
}

// The first page of a document: every embedded program is decoded and parsed. The installed
// substitutes are parsed once per process, before the measurement starts.
void BM_PageFontsFirstTime(benchmark::State& state) {
    const auto bench = MakeDocument();
    if (!bench) {
        state.SkipWithError("the document did not load");
        return;
    }
    LoadPage(*bench, nullptr);
    for (auto _ : state) {
        TPDFFontProgramCache cache;
        LoadPage(*bench, &cache);
    }
}
BENCHMARK(BM_PageFontsFirstTime)->Unit(benchmark::kMicrosecond);

// Every later page: a new collection over the same document with the cache the first filled.
void BM_PageFontsWithCache(benchmark::State& state) {
    const auto bench = MakeDocument();
    if (!bench) {
        state.SkipWithError("the document did not load");
        return;
    }
    TPDFFontProgramCache cache;
    LoadPage(*bench, &cache);
    for (auto _ : state)
        LoadPage(*bench, &cache);
    state.counters["programs"] = double(cache.Count());
}
BENCHMARK(BM_PageFontsWithCache)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
