#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/uPDFDocument.h"
#include "fonts/uPDFFontRasterizer.h"
#include "fonts/uPDFTrueTypeParser.h"
#include "fonts/uPDFType1.h"
#include "platform/uInstalledFonts.h"
#include "support/FontPrograms.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::CffIndex;
using tolvane_test::PdfWriter;
using tolvane_test::Put16;
using tolvane_test::Put32;

namespace {

// ---------------------------------------------------------------------------------------------
// Font programs written in code: a TrueType file of custom-named glyphs (unitsPerEm 1000, so
// advances are widths), a bare CFF font, and a Type 1 program with a built-in encoding.

std::string TrueTypeFont(const std::vector<std::pair<std::string, int>>& glyphs) {
    return tolvane_test::TrueTypeProgram(glyphs, 1000);
}

// A CFF font of four glyphs, standard charset and encoding, FontMatrix [scale 0 0 scale 0 0]
// with `scale` written as a real number.
std::string CffFont(const std::string& scale) {
    std::string real(1, char(30));
    std::vector<int> nibbles;
    for (const char c : scale)
        nibbles.push_back(c == '.' ? 0xa : c - '0');
    nibbles.push_back(0xf);
    if (nibbles.size() % 2)
        nibbles.push_back(0xf);
    for (std::size_t i = 0; i < nibbles.size(); i += 2)
        real += char(nibbles[i] * 16 + nibbles[i + 1]);
    const std::string zero(1, char(139));
    const std::string matrix = real + zero + zero + real + zero + zero + "\x0c\x07";
    auto top = [&](std::int32_t charStrings) {
        std::string t = matrix + char(29);
        Put32(t, std::uint32_t(charStrings));
        return t + char(17);
    };
    const std::string head = std::string("\x01\x00\x04\x01", 4) + CffIndex({"T"});
    const std::string tail = CffIndex({}) + CffIndex({});
    const auto at = std::int32_t(head.size() + CffIndex({top(0)}).size() + tail.size());
    return head + CffIndex({top(at)}) + tail + CffIndex(std::vector<std::string>(4, "\x0e"));
}

const std::string kType1Clear = "%!PS-AdobeFont-1.0: T 001\n11 dict begin\n/FontName /T def\n"
                                "/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\n"
                                "dup 65 /Zed put\ndup 66 /eacute put\nreadonly def\n"
                                "currentdict end\ncurrentfile eexec\n";

// Installed fonts for the tests: a few families, each with its own widths for the glyph
// names .notdef, space, A, B and a.
class FakeFonts : public TInstalledFonts {
public:
    std::map<std::string, std::string> Data = {
        {"Arial",
         TrueTypeFont({{".notdef", 100}, {"space", 111}, {"A", 222}, {"B", 333}, {"a", 444}})},
        {"Courier", TrueTypeFont({{".notdef", 600}, {"space", 600}, {"A", 600}, {"B", 600}})},
        {"Wingdings", TrueTypeFont({{".notdef", 0}, {"A", 999}})},
    };

protected:
    std::vector<std::string> EnumerateFamilies() override { return {"Arial", "Wingdings"}; }
    std::uint64_t DataSize(std::string_view family, TFontStyle) override {
        const auto it = Data.find(std::string(family));
        return it == Data.end() ? 0 : it->second.size();
    }
    std::string ReadData(std::string_view family, TFontStyle, std::uint64_t) override {
        return Data.at(std::string(family));
    }
};

// A document of font objects, loaded through TPDFDocument; references are made in a store of
// the test's own, as the page interpreter makes them. Font texts may name objects made for
// them: $TYPE1, $CFF, $JUNK (a FontFile3 that is no CFF) and $TT are program streams, $CID a
// CIDFontType2 dictionary, $TU(ranges) a ToUnicode stream with these bfrange triples.
class FontDoc {
public:
    PdfWriter W;
    TPDFDocument Doc;
    TPDFStructure Refs;

    FontDoc() {
        W.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        W.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        W.RootObj = 1;
        Refs.OnResolve = [this](const TPDFIndRef*, std::int32_t num, std::int32_t gen) {
            return Doc.ResolveRef(num, gen);
        };
    }
    int Add(const std::string& body) { return W.Add(Expand(body)); }
    void Load() { ASSERT_TRUE(Doc.LoadFromBytes(W.Finish())); }

    std::string Expand(std::string text) {
        for (std::size_t at; (at = text.find('$')) != std::string::npos;) {
            std::size_t end =
                text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", at + 1);
            end = end == std::string::npos ? text.size() : end;
            const std::string name = text.substr(at + 1, end - at - 1);
            std::string arg;
            if (end < text.size() && text[end] == '(') {
                const std::size_t close = text.find(')', end);
                arg = text.substr(end + 1, close - end - 1);
                end = close + 1;
            }
            text.replace(at, end - at, std::to_string(Make(name, arg)) + " 0 R");
        }
        return text;
    }

    const TPDFFontCollectionData& Select(TPDFFontCollection& fonts, int num, int gen = 0) {
        TPDFWidths widths;
        TPDFTextVector text;
        fonts.SelectFont(Refs.CreateRef(num, gen), widths, text);
        EXPECT_EQ(widths, fonts.Current().Widths);
        EXPECT_EQ(text, fonts.Current().CodeText);
        return fonts.Current();
    }

private:
    int Make(const std::string& name, const std::string& arg) {
        if (name == "TYPE1")
            return W.AddStream("/Length1 " + std::to_string(kType1Clear.size()) +
                                   " /Length2 4 /Length3 0",
                               kType1Clear + "\x01\x02\x03\x04");
        if (name == "CFF")
            return W.AddStream("/Subtype /Type1C", CffFont(arg.empty() ? "0.001" : arg));
        if (name == "JUNK")
            return W.AddStream("", "junk");
        if (name == "TT")
            return W.AddStream("", TrueTypeFont({{".notdef", 0}, {"A", 700}}));
        if (name == "CID")
            return W.Add("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /CJK " + arg + " >>");
        if (name == "TU")
            return W.AddStream("", "begincmap\n1 begincodespacerange\n<0000> <FFFF>\n"
                                   "endcodespacerange\n1 beginbfrange\n" +
                                       arg + "\nendbfrange\nendcmap\n");
        ADD_FAILURE() << "unknown object " << name;
        return 0;
    }
};

class FontCollection : public ::testing::Test {
protected:
    void SetUp() override { SetInstalledFonts(&Installed); }
    void TearDown() override { SetInstalledFonts(nullptr); }

    // A collection set up as text extraction sets it up.
    static std::unique_ptr<TPDFFontCollection>
    Collection(TTextEncoding encoding = TTextEncoding::Cp1252,
               TPDFFontProgramCache* cache = nullptr) {
        auto fonts = std::make_unique<TPDFFontCollection>(encoding, cache);
        fonts->LoadPrograms = true;
        return fonts;
    }
    FakeFonts Installed;
};

const std::string kSymbolicTT =
    "/Subtype /TrueType /BaseFont /ABCDEF+Sym /FontDescriptor << /Flags 4 /FontFile2 $TT >> ";
const std::string kType0 = "/Subtype /Type0 /BaseFont /CJK /Encoding /Identity-H ";

} // namespace

TEST_F(FontCollection, TheTextOfACodeFollowsTheLoadingSteps) {
    struct Case {
        const char* Name;
        std::string Font;
        int Code;
        std::string Text, CodeText;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"a WinAnsi code is its byte",
         "/Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding", 146, "\x92", "\x92"},
        {"Differences overlay the base encoding",
         "/Subtype /Type1 /BaseFont /Helvetica /Encoding << /BaseEncoding /WinAnsiEncoding "
         "/Differences [65 /B /fi] >>", 66, "fi", "fi"},
        {"a ToUnicode map overlays the glyph names",
         "/Subtype /TrueType /BaseFont /Arial /ToUnicode $TU(<41> <41> <005A>)", 65, "Z", "Z"},
        {"a code outside the ToUnicode map keeps its glyph name",
         "/Subtype /TrueType /BaseFont /Arial /ToUnicode $TU(<41> <41> <005A>)", 66, "B", "B"},
        {"a symbolic embedded TrueType font takes its ToUnicode map",
         kSymbolicTT + "/ToUnicode $TU(<20> <7F> <0020>)", 65, "A", "A"},
        {"a symbolic TrueType code outside its map has no text, whatever its encoding names",
         kSymbolicTT + "/Encoding << /Differences [200 /eacute] >> /ToUnicode $TU(<20> <7F> <0020>)",
         200, "", ""},
        {"a symbolic TrueType font without ToUnicode reads its Differences once",
         kSymbolicTT + "/Encoding << /Differences [65 /B] >>", 65, "B", "B"},
        {"a symbolic TrueType font without program is no symbolic font",
         "/Subtype /TrueType /BaseFont /Sym /FontDescriptor << /Flags 4 >> "
         "/ToUnicode $TU(<20> <20> <0020>)", 65, "A", "A"},
        {"an embedded Type 1 font with a named encoding takes the encoding",
         "/Subtype /Type1 /BaseFont /T /Encoding /WinAnsiEncoding "
         "/FontDescriptor << /Flags 32 /FontFile $TYPE1 >>", 65, "A", "A"},
        {"a symbolic embedded Type 1 font takes its built-in encoding",
         "/Subtype /Type1 /BaseFont /T /Encoding /WinAnsiEncoding "
         "/FontDescriptor << /Flags 4 /FontFile $TYPE1 >>", 65, "Zed", "Zed"},
        {"Differences apply over the built-in encoding",
         "/Subtype /Type1 /BaseFont /T /Encoding << /Differences [66 /B] >> "
         "/FontDescriptor << /Flags 32 /FontFile $TYPE1 >>", 66, "B", "B"},
        {"a CFF font without a named encoding takes the CFF standard encoding",
         "/Subtype /Type1 /BaseFont /C /FontDescriptor << /FontFile3 $CFF >>", 39, "\x92", "\x92"},
        {"a composite font whose ToUnicode is a name has no text but its codes",
         kType0 + "/ToUnicode /Identity-H /DescendantFonts [$CID]", 200, "\xC8", ""},
        {"a composite font mapping only codes above 255 falls back to the codes",
         kType0 + "/ToUnicode $TU(<0100> <0102> <0041>) /DescendantFonts [$CID]", 65, "A", ""},
        {"a composite font without ToUnicode keeps its descendant's text",
         kType0 + "/DescendantFonts [$CID]", 65, "A", "A"},
        {"a font whose program names no glyph falls back to the codes",
         "/Subtype /Type1 /BaseFont /C /FontDescriptor << /FontFile3 $JUNK >>", 66, "B", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FontDoc doc;
        const int font = doc.Add("<< /Type /Font " + c.Font + " >>");
        doc.Load();
        auto fonts = Collection();
        const TPDFFontCollectionData& record = doc.Select(*fonts, font);
        EXPECT_EQ(record.Text[c.Code], c.Text);
        EXPECT_EQ(record.CodeText[c.Code], c.CodeText);
    }
}

TEST_F(FontCollection, WidthsComeFromTheSourcesInStepOrder) {
    struct Case {
        const char* Name;
        std::string Font;
        std::map<int, double> Widths;
        std::string FontName;
        double Ascent, Descent;
        int FirstChar = 0, LastChar = 0;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"Helvetica takes its metrics", "/Subtype /Type1 /BaseFont /Helvetica",
         {{32, 278}, {65, 667}, {0, 750}}, "Arial", 718, -207},
        {"Widths override the standard metrics over FirstChar..LastChar",
         "/Subtype /Type1 /BaseFont /Helvetica /FirstChar 65 /LastChar 66 /Widths [900 901 902]",
         {{32, 278}, {65, 900}, {66, 901}, {67, 722}}, "Arial", 718, -207, 65, 66},
        {"standard widths follow the names after Differences",
         "/Subtype /Type1 /BaseFont /Times-Bold /Encoding << /Differences [65 /W] >>",
         {{65, 1000}}, "TimesNewRoman,Bold", 676, -205},
        {"FirstChar 250 with LastChar 300 writes codes 250 to 255",
         "/Subtype /Type1 /BaseFont /Courier /FirstChar 250 /LastChar 300 /Widths [1 2 3 4 5 6 7 8]",
         {{249, 600}, {250, 1}, {255, 6}}, "CourierNew", 629, -157, 250, 255},
        {"a Widths element that is no number gives 0",
         "/Subtype /Type1 /BaseFont /Helvetica /FirstChar 65 /LastChar 67 /Widths [1 9 0 R /x]",
         {{65, 1}, {66, 0}, {67, 0}}, "Arial", 718, -207, 65, 67},
        {"a font without a program takes the substitute's widths by glyph name",
         "/Subtype /TrueType /BaseFont /Arial,Bold /FirstChar 66 /LastChar 66 /Widths [5]",
         {{32, 111}, {65, 222}, {66, 5}, {97, 444}, {200, 750}}, "Arial,Bold", 0, 0, 66, 66},
        {"substitute widths follow the names before Differences",
         "/Subtype /TrueType /BaseFont /Arial /Encoding << /Differences [65 /B] >>",
         {{65, 222}}, "Arial", 0, 0},
        {"an unlisted fixed-pitch font takes Courier's widths",
         "/Subtype /TrueType /BaseFont /Mono /FontDescriptor << /Flags 1 /Ascent 800.4 >>",
         {{65, 600}, {97, 750}}, "Mono", 800, 0},
        {"a listed family is its own substitute", "/Subtype /TrueType /BaseFont /Wingdings",
         {{65, 999}, {32, 750}}, "Wingdings", 0, 0},
        {"ZapfDingbats keeps 750 but for its Widths",
         "/Subtype /Type1 /BaseFont /ZapfDingbats /FirstChar 66 /LastChar 66 /Widths [3]",
         {{65, 750}, {66, 3}}, "VantrelDingbats", 699, -205, 66, 66},
        {"Type 3 widths are glyph-space numbers",
         "/Subtype /Type3 /FontMatrix [0.01 0 0 0.01 0 0] /FirstChar 0 /LastChar 0 /Widths [50]",
         {{0, 50}, {1, 750}}, "Arial", 0, 0, 0, 0},
        {"a LastChar without FirstChar is not read", "/Subtype /Type3 /LastChar 5 /Widths [50]",
         {{0, 750}}, "Arial", 0, 0, 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FontDoc doc;
        const int font = doc.Add("<< /Type /Font " + c.Font + " >>");
        doc.Load();
        auto fonts = Collection();
        const TPDFFontCollectionData& record = doc.Select(*fonts, font);
        for (const auto& [code, width] : c.Widths)
            EXPECT_EQ(record.Widths[code], width) << "code " << code;
        EXPECT_EQ(record.FontName, c.FontName);
        EXPECT_EQ(record.Ascent, c.Ascent);
        EXPECT_EQ(record.Descent, c.Descent);
        EXPECT_EQ(record.FirstChar, c.FirstChar);
        EXPECT_EQ(record.LastChar, c.LastChar);
        EXPECT_NE(record.Program, nullptr);
    }
}

TEST_F(FontCollection, CIDWidthsTakeTheFirstEntryListingACID) {
    struct Case {
        const char* Name;
        std::string Entries;
        std::map<std::int64_t, std::int32_t> Widths; // CID -> width
        std::map<std::int64_t, bool> Listed;
        std::string Object = "null"; // object 3, for entries that refer to it
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"ranges and lists", "/W [1 [500 600] 5 7 250]",
         {{1, 500}, {2, 600}, {3, 1000}, {5, 250}, {7, 250}, {8, 1000}}, {{2, true}, {3, false}}},
        {"DW is the default", "/DW 300 /W [1 1 9]", {{1, 9}, {0, 300}, {65535, 300}}, {}},
        {"a huge range costs one entry", "/W [0 2147483647 500]",
         {{0, 500}, {65535, 500}, {2147483647, 500}, {-1, 1000}}, {{65535, true}}},
        {"an overlapping later range loses", "/W [10 20 100 15 25 200 0 [7 7 7]]",
         {{15, 100}, {20, 100}, {22, 200}, {0, 7}, {2, 7}, {3, 1000}}, {}},
        {"a bad element ends the reading", "/W [1 2 300 /x 5 6 7]", {{2, 300}, {5, 1000}}, {}},
        {"a range without its width is dropped", "/W [1 2]", {{1, 1000}}, {{1, false}}},
        {"a reversed range gives nothing", "/W [9 1 5]", {{1, 1000}, {9, 1000}}, {}},
        {"a width list may be a reference", "/W [4 3 0 R]", {{4, 11}, {5, 12}, {6, 1000}}, {},
         "[11 12]"},
        {"a referenced last CID is read", "/W [4 3 0 R 5]", {{4, 5}, {5, 1000}}, {}, "4"},
    };
    // clang-format on
    // The descendant by reference and given directly in the array.
    for (const Case& c : cases)
        for (const bool direct : {false, true}) {
            SCOPED_TRACE(std::string(c.Name) + (direct ? ", direct" : ""));
            FontDoc doc;
            ASSERT_EQ(doc.Add(c.Object), 3);
            const std::string descendant =
                direct ? "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /CJK " + c.Entries + " >>"
                       : "$CID(" + c.Entries + ")";
            const int font = doc.Add("<< " + kType0 + "/DescendantFonts [" + descendant + "] >>");
            doc.Load();
            auto fonts = Collection();
            doc.Select(*fonts, font);
            ASSERT_NE(fonts->Current().CIDWidths, nullptr);
            for (const auto& [cid, width] : c.Widths)
                EXPECT_EQ(fonts->CIDWidth(cid), width) << "CID " << cid;
            for (const auto& [cid, listed] : c.Listed)
                EXPECT_EQ(fonts->CIDWidthListed(cid), listed) << "CID " << cid;
        }
}

TEST(CIDWidths, TheIndexAnswersAsALinearSearchDoes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        TPDFCIDWidths widths;
        std::vector<TPDFCIDWidths::TRange> ranges;
        const int n = 1 + int(rng() % 30);
        for (int i = 0; i < n; ++i) {
            const auto first = std::int32_t(rng() % 100);
            const auto last = std::int32_t(first + int(rng() % 20) - 3);
            const auto width = std::int32_t(rng() % 1000);
            widths.Add(first, last, width);
            ranges.push_back({first, last, width});
        }
        widths.Finish();
        for (std::int64_t cid = -2; cid < 125; ++cid) {
            std::optional<std::int32_t> expected;
            for (const auto& r : ranges)
                if (r.First <= cid && cid <= r.Last) {
                    expected = r.Width;
                    break;
                }
            ASSERT_EQ(widths.Find(cid), expected) << "round " << round << " CID " << cid;
        }
    }
}

TEST_F(FontCollection, EveryLoadAppendsOneCompleteRecord) {
    struct Case {
        const char* Name;
        std::string Font; // object 4; empty: a reference to a missing object
        std::uint8_t IsTwoByte;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"a reference to a missing object", "", 0},
        {"a reference to a number", "42", 0},
        {"a composite font without descendants", "<< " + kType0 + ">>", 1},
        {"a composite font with two descendants", "<< " + kType0 + "/DescendantFonts [$CID $CID] >>", 1},
        {"a composite font with a direct descendant",
         "<< " + kType0 + "/DescendantFonts [<< /Subtype /CIDFontType2 >>] >>", 1},
        {"a composite font whose descendant is no dictionary",
         "<< " + kType0 + "/DescendantFonts [3 0 R] >>", 1},
        {"a composite font descending into itself", "<< " + kType0 + "/DescendantFonts [4 0 R] >>", 1},
        {"a composite font descending into a composite font",
         "<< " + kType0 + "/DescendantFonts [5 0 R] >>", 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FontDoc doc;
        doc.W.Set(3, "<< /Subtype /Type1 /BaseFont /Helvetica >>");
        doc.W.Set(4, "null"); // taken before Expand makes the objects the font names
        doc.W.Set(5, "<< " + kType0 + "/DescendantFonts [6 0 R] >>");
        doc.W.Set(6, "<< /Subtype /CIDFontType2 >>");
        if (!c.Font.empty())
            doc.W.Set(4, doc.Expand(c.Font));
        const int num = c.Font.empty() ? 99 : 4;
        doc.Load();
        auto fonts = Collection();
        doc.Select(*fonts, 3);
        const TPDFFontCollectionData& record = doc.Select(*fonts, num);
        ASSERT_EQ(fonts->Fonts().size(), 2u);
        EXPECT_EQ(fonts->Fonts()[0]->IsTwoByte, 0);
        EXPECT_EQ(fonts->Fonts()[1].get(), &record);
        EXPECT_EQ(record.ObjNum, num);
        EXPECT_EQ(record.IsTwoByte, c.IsTwoByte);
        EXPECT_EQ(record.Text[65], "A");
        doc.Select(*fonts, num);
        EXPECT_EQ(fonts->Fonts().size(), 2u);
    }
}

TEST_F(FontCollection, AFontIsLoadedOncePerObjectNumber) {
    FontDoc doc;
    const int a = doc.Add("<< /Subtype /Type1 /BaseFont /Helvetica >>");
    const int b = doc.Add("<< /Subtype /Type1 /BaseFont /Helvetica >>");
    doc.Load();
    auto fonts = Collection();
    const TPDFFontCollectionData* first = &doc.Select(*fonts, a);
    EXPECT_EQ(&doc.Select(*fonts, a, 5), first) << "the generation is not compared";
    EXPECT_NE(&doc.Select(*fonts, b), first);
    EXPECT_EQ(fonts->Fonts().size(), 2u);
    TPDFWidths widths{};
    TPDFTextVector text;
    fonts->SelectFont(nullptr, widths, text);
    EXPECT_EQ(&fonts->Current(), &*fonts->Fonts()[1]) << "no reference changes nothing";
    EXPECT_EQ(widths[0], 0);
}

TEST_F(FontCollection, PastTheRecordBoundOldFontsAreDroppedAndReloadIdentically) {
    FontDoc doc;
    std::vector<int> objs;
    for (std::size_t i = 0; i <= TPDFFontCollection::kMaxLoadedFonts; ++i)
        objs.push_back(doc.Add("<< /Subtype /Type1 /BaseFont /Courier /FirstChar 0 /LastChar 0 "
                               "/Widths [" +
                               std::to_string(i) + "] >>"));
    doc.Load();
    auto fonts = Collection();
    for (const int obj : objs)
        doc.Select(*fonts, obj);
    EXPECT_EQ(fonts->Fonts().size(), TPDFFontCollection::kMaxLoadedFonts);
    EXPECT_EQ(doc.Select(*fonts, objs[0]).Widths[0], 0);
    EXPECT_EQ(doc.Select(*fonts, objs.back()).Widths[0], double(objs.size() - 1));
}

TEST_F(FontCollection, Type3FontsKeepTheirMatrixAndProcedureNames) {
    FontDoc doc;
    const int proc = doc.W.AddStream("", "0 0 d0");
    const int font = doc.Add("<< /Subtype /Type3 /FontMatrix [0.5 /x 0 0.5 0 0] /CharProcs << /a " +
                             std::to_string(proc) + " 0 R /b 5 >> >>");
    const int bad = doc.Add("<< /Subtype /Type3 /FontMatrix [2 0 0 2 0] >>");
    doc.Load();
    auto fonts = Collection();
    const auto* type3 =
        dynamic_cast<const TPDFType3Rasterizer*>(doc.Select(*fonts, font).Program.get());
    ASSERT_NE(type3, nullptr);
    EXPECT_EQ(type3->FontMatrix, (std::array<double, 6>{0.5, 0, 0, 0.5, 0, 0}));
    EXPECT_EQ(type3->GlyphProcNames, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(type3->GlyphProc(0), "0 0 d0");
    EXPECT_EQ(type3->GlyphProc(1), "");
    EXPECT_EQ(fonts->ProgramScale(), 1);
    const auto* five =
        dynamic_cast<const TPDFType3Rasterizer*>(doc.Select(*fonts, bad).Program.get());
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->FontMatrix, (std::array<double, 6>{1, 0, 0, 1, 0, 0}));
}

TEST_F(FontCollection, TextComesOutInTheCollectionsEncoding) {
    struct Case {
        const char* Name;
        std::string Font;
        int Code;
        std::string Cp1252, Utf8;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"a WinAnsi character", "/Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding",
         128, "\x80", "\xE2\x82\xAC"},
        {"a ligature glyph name", "/Subtype /Type1 /BaseFont /Helvetica", 174, "fi", "\xEF\xAC\x81"},
        {"a ToUnicode character outside the code page",
         "/Subtype /TrueType /BaseFont /Arial /ToUnicode $TU(<41> <41> <0416>)", 65, "?", "\xD0\x96"},
        {"the fallback to the code itself",
         kType0 + "/ToUnicode /Identity-H /DescendantFonts [$CID]", 200, "\xC8", "\xC3\x88"},
        {"a symbolic TrueType font's glyph names",
         kSymbolicTT + "/Encoding << /Differences [65 /Euro] >>", 65, "\x80", "\xE2\x82\xAC"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FontDoc doc;
        const int font = doc.Add("<< /Type /Font " + c.Font + " >>");
        doc.Load();
        for (const TTextEncoding encoding : {TTextEncoding::Cp1252, TTextEncoding::Utf8}) {
            auto fonts = Collection(encoding);
            EXPECT_EQ(doc.Select(*fonts, font).Text[c.Code],
                      encoding == TTextEncoding::Utf8 ? c.Utf8 : c.Cp1252);
        }
    }
    // Two-byte codes go through the map in the collection's encoding.
    FontDoc doc;
    const int font =
        doc.Add("<< " + kType0 + "/ToUnicode $TU(<0100> <0101> <20AC>) /DescendantFonts [$CID] >>");
    doc.Load();
    auto cp1252 = Collection(TTextEncoding::Cp1252);
    auto utf8 = Collection(TTextEncoding::Utf8);
    doc.Select(*cp1252, font);
    doc.Select(*utf8, font);
    EXPECT_EQ(cp1252->ToUnicodeText(0x100), "\x80");
    EXPECT_EQ(utf8->ToUnicodeText(0x100), "\xE2\x82\xAC");
    EXPECT_EQ(utf8->ToUnicodeText(0x102), std::nullopt);
}

namespace {

// A page's worth of embedded fonts: Type 1, CFF (scale 0.5) and TrueType programs.
std::vector<int> embeddedFonts(FontDoc& d) {
    return {
        d.Add("<< /Subtype /Type1 /BaseFont /T /FontDescriptor << /Flags 4 /FontFile $TYPE1 >> >>"),
        d.Add("<< /Subtype /Type1 /BaseFont /C /FontDescriptor 7 0 R >>"),
        d.Add("<< /Type /FontDescriptor /Flags 4 /FontFile3 $CFF(0.0005) >>"),
        d.Add("<< /Subtype /TrueType /BaseFont /TT /FontDescriptor << /Flags 32 /FontFile2 $TT >> "
              ">>")};
}

void expectSameRecord(const TPDFFontCollectionData& a, const TPDFFontCollectionData& b) {
    EXPECT_EQ(a.ObjNum, b.ObjNum);
    EXPECT_EQ(a.Widths, b.Widths);
    EXPECT_EQ(a.CodeText, b.CodeText);
    EXPECT_EQ(a.Text, b.Text);
    EXPECT_EQ(a.GlyphNames, b.GlyphNames);
    EXPECT_EQ(a.FontName, b.FontName);
    EXPECT_EQ(a.IsTwoByte, b.IsTwoByte);
    EXPECT_EQ(a.Ascent, b.Ascent);
    EXPECT_EQ(a.Descent, b.Descent);
    ASSERT_EQ(a.Program == nullptr, b.Program == nullptr);
    if (a.Program) {
        EXPECT_EQ(a.Program->GetScale(), b.Program->GetScale());
    }
}

} // namespace

TEST_F(FontCollection, ASecondCollectionReusesCachedProgramsWithIdenticalRecords) {
    FontDoc doc;
    std::vector<int> objs = embeddedFonts(doc);
    ASSERT_EQ(objs[2], 7);
    objs.erase(objs.begin() + 2); // the descriptor
    doc.Load();
    TPDFFontProgramCache cache;
    auto first = Collection(TTextEncoding::Cp1252, &cache);
    auto second = Collection(TTextEncoding::Cp1252, &cache);
    auto fresh = Collection();
    for (const int obj : objs)
        doc.Select(*first, obj);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Hits(), 0u);
    for (std::size_t i = 0; i < objs.size(); ++i) {
        SCOPED_TRACE(i);
        const TPDFFontCollectionData& reused = doc.Select(*second, objs[i]);
        expectSameRecord(reused, doc.Select(*fresh, objs[i]));
        EXPECT_EQ(reused.Program, first->Fonts()[i]->Program);
    }
    EXPECT_EQ(cache.Hits(), 3u);
    EXPECT_EQ(second->Fonts()[0]->Text[65], "Zed");
    EXPECT_EQ(second->Fonts()[1]->Text[65], "A");
    doc.Select(*second, objs[1]);
    EXPECT_EQ(second->ProgramScale(), 0.5);

    // A stream whose data changed is parsed afresh.
    auto* cff = AsStream(AsDictionary(doc.Doc.ResolveRef(7, 0))->Get("FontFile3"));
    ASSERT_NE(cff, nullptr);
    cff->ReplaceRawData(CffFont("0.002"));
    auto third = Collection(TTextEncoding::Cp1252, &cache);
    doc.Select(*third, objs[1]);
    EXPECT_EQ(third->ProgramScale(), 2);
}

TEST(FontProgramCache, StaysWithinItsBudgetDroppingTheLeastRecentlyUsed) {
    TPDFStructure store;
    TPDFFontProgramCache cache(1000);
    std::vector<TPDFFontProgramCache::TKey> keys;
    for (int i = 0; i < 4; ++i)
        keys.push_back(TPDFFontProgramCache::KeyOf(store.CreateStream("x"),
                                                   TPDFFontProgramCache::TProgramKind::CFF));
    auto program = std::make_shared<TPDFType1Decoder>();
    cache.Insert(keys[0], program, 400);
    cache.Insert(keys[1], program, 400);
    EXPECT_TRUE(cache.Find(keys[0]).has_value());
    cache.Insert(keys[2], program, 400); // drops keys[1], used least recently
    EXPECT_FALSE(cache.Find(keys[1]).has_value());
    EXPECT_TRUE(cache.Find(keys[0]).has_value());
    cache.Insert(keys[3], program, 2000); // larger than the budget: not kept
    EXPECT_FALSE(cache.Find(keys[3]).has_value());
    EXPECT_LE(cache.Bytes(), 1000u);
    EXPECT_EQ(cache.Count(), 2u);
}

TEST_F(FontCollection, WithoutProgramsOnlyCFFProgramsAreMade) {
    FontDoc doc;
    std::vector<int> objs = embeddedFonts(doc);
    const int helvetica = doc.Add("<< /Subtype /Type1 /BaseFont /Helvetica >>");
    doc.Load();
    TPDFFontCollection fonts; // LoadPrograms stays false
    EXPECT_EQ(doc.Select(fonts, objs[0]).Program, nullptr);
    EXPECT_NE(doc.Select(fonts, objs[1]).Program, nullptr);
    EXPECT_EQ(doc.Select(fonts, objs[3]).Program, nullptr);
    const TPDFFontCollectionData& standard = doc.Select(fonts, helvetica);
    EXPECT_EQ(standard.Program, nullptr);
    EXPECT_EQ(standard.Widths[32], 278);
}
