// Composite fonts on the reading road: codes read by codespace ranges, code to CID through
// predefined and embedded CMaps (usecmap followed), CID to text through a character
// collection, vertical writing, and a CMap folder that is missing. The predefined maps are
// small ones written here, so the tests do not depend on the installed CMap files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "facade/uKorvel.h"
#include "fonts/uPDFCIDMaps.h"
#include "support/PdfWriter.h"

using namespace korvel;

namespace {

const char* const kRKSJ = R"(/CIDInit /ProcSet findresource begin
/CMapName /90ms-RKSJ-H def /WMode 0 def
4 begincodespacerange
  <00> <80> <8140> <9FFC> <A0> <DF> <E040> <FCFC>
endcodespacerange
1 beginnotdefrange <00> <1f> 231 endnotdefrange
2 begincidrange
<20> <7d> 231
<829f> <82f1> 842
endcidrange
1 begincidchar <b1> 327 endcidchar
endcmap)";

// Japan1 CIDs 231.. are ASCII from the space; 842.. the hiragana from U+3041; 327 half-width
// katakana A.
const char* const kJapanUCS2 = R"(/CMapName /Adobe-Japan1-UCS2 def
1 begincodespacerange <0000> <FFFF> endcodespacerange
2 beginbfrange
<00e7> <0144> <0020>
<034a> <039c> <3041>
endbfrange
1 beginbfchar <0147> <ff71> endbfchar
endcmap)";

const char* const kGBH = R"(/CMapName /UniGB-UCS2-H def
1 begincodespacerange <0000> <FFFF> endcodespacerange
3 begincidchar <4e2d> 100 <6587> 101 <3000> 104 endcidchar
1 begincidrange <56fd> <56fd> 102 endcidrange
endcmap)";
const char* const kGBV = R"(/CMapName /UniGB-UCS2-V def /WMode 1 def
/UniGB-UCS2-H usecmap
1 begincidchar <8bed> 103 endcidchar
endcmap)";
const char* const kGBUCS2 = R"(1 begincodespacerange <0000> <FFFF> endcodespacerange
1 beginbfchar <0064> <4e2d> endbfchar
2 beginbfchar <0065> <6587> <0066> <56fd> endbfchar
2 beginbfchar <0067> <8bed> <0068> <3000> endbfchar)";

class CIDMaps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        namespace fs = std::filesystem;
        Folder() = fs::temp_directory_path() / ("korvel-cmaps-" + std::to_string(::getpid()));
        fs::create_directories(Folder() / "Adobe-Japan1");
        fs::create_directories(Folder() / "Adobe-GB1");
        write("Adobe-Japan1/90ms-RKSJ-H", kRKSJ);
        write("Adobe-Japan1/Adobe-Japan1-UCS2", kJapanUCS2);
        write("Adobe-GB1/UniGB-UCS2-H", kGBH);
        write("Adobe-GB1/UniGB-UCS2-V", kGBV);
        write("Adobe-GB1/Adobe-GB1-UCS2", kGBUCS2);
        SetCMapFolder(Folder().string());
    }
    static void TearDownTestSuite() {
        SetCMapFolder({});
        std::error_code error;
        std::filesystem::remove_all(Folder(), error);
    }
    static std::filesystem::path& Folder() {
        static std::filesystem::path folder;
        return folder;
    }
    static void write(const std::string& name, const std::string& data) {
        std::ofstream(Folder() / name, std::ios::binary) << data;
    }
};

struct TFont {
    std::string Encoding;     // the Encoding entry, e.g. "/90ms-RKSJ-H" or "5 0 R"
    std::string Ordering;     // the descendant's ordering
    std::string EncodingCMap; // data of an embedded Encoding CMap (object 8)
    std::string ToUnicode;    // data of a ToUnicode stream (object 9)
};

// A page showing `content` in the composite font F1.
std::string page(const TFont& font, const std::string& content) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
             " /Resources << /Font << /F1 5 0 R >> >> >>");
    w.SetStream(4, "", content);
    w.Set(5, "<< /Type /Font /Subtype /Type0 /BaseFont /Test /Encoding " + font.Encoding +
                 " /DescendantFonts [6 0 R]" + (font.ToUnicode.empty() ? "" : " /ToUnicode 9 0 R") +
                 " >>");
    w.Set(6, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Test /DW 1000"
             " /CIDSystemInfo << /Registry (Adobe) /Ordering (" +
                 font.Ordering + ") /Supplement 0 >> >>");
    if (!font.EncodingCMap.empty())
        w.SetStream(8, "/Type /CMap", font.EncodingCMap);
    if (!font.ToUnicode.empty())
        w.SetStream(9, "", font.ToUnicode);
    return w.Finish();
}

std::string readingText(const std::string& file) {
    TKorvel korvel;
    korvel.SetTextEncoding(TTextEncoding::Utf8);
    if (korvel.LoadFromBytes(file) != 1)
        return "(not loaded)";
    korvel.SelectPage(1);
    return korvel.GetReadingText();
}

const TFont kRKSJFont{"/90ms-RKSJ-H", "Japan1", "", ""};
const TFont kGBVertical{"/UniGB-UCS2-V", "GB1", "", ""};

} // namespace

TEST_F(CIDMaps, CodesReadByCodespaceRangesMapToTextThroughTheCollection) {
    const std::string oneByteCMap = "1 begincodespacerange <00> <ff> endcodespacerange\n"
                                    "1 begincidrange <20> <7e> 1 endcidrange";
    const std::string oneByteToUnicode = "1 begincodespacerange <00> <ff> endcodespacerange\n"
                                         "1 beginbfrange <20> <7e> <0020> endbfrange";
    // A ToUnicode map in several sections (the last ones used to be lost).
    const std::string sections = "1 begincodespacerange <0000> <ffff> endcodespacerange\n"
                                 "1 beginbfchar <0001> <4e1c> endbfchar\n"
                                 "1 beginbfchar <0002> <5317> endbfchar\n"
                                 "1 beginbfrange <0003> <0004> <7535> endbfrange";
    struct TRow {
        const char* Name;
        TFont Font;
        std::string Content;
        std::string Text;
    };
    const std::vector<TRow> rows = {
        // One-byte ASCII, two-byte hiragana and a one-byte half-width katakana mixed.
        {"mixed lengths", kRKSJFont, "BT /F1 12 Tf 72 700 Td <48692082a082a2b1> Tj ET",
         "Hi \xE3\x81\x82\xE3\x81\x84\xEF\xBD\xB1"},
        // 0x8aa0 lies in the two-byte space but no range maps it: no text, one code long.
        {"ideographic space",
         {"/UniGB-UCS2-H", "GB1", "", ""},
         "BT /F1 12 Tf 72 700 Td <30004e2d30006587> Tj ET",
         "\xE4\xB8\xAD \xE6\x96\x87"},
        {"unmapped code", kRKSJFont, "BT /F1 12 Tf 72 700 Td <8aa041> Tj ET", "A"},
        {"code to CID by name and CID to text",
         {"/UniGB-UCS2-H", "GB1", "", ""},
         "BT /F1 12 Tf 72 700 Td <4e2d658756fd> Tj ET",
         "\xE4\xB8\xAD\xE6\x96\x87\xE5\x9B\xBD"},
        {"Identity-H through the collection",
         {"/Identity-H", "GB1", "", ""},
         "BT /F1 12 Tf 72 700 Td <006400650066> Tj ET",
         "\xE4\xB8\xAD\xE6\x96\x87\xE5\x9B\xBD"},
        {"one-byte embedded CMap",
         {"8 0 R", "Identity", oneByteCMap, oneByteToUnicode},
         "BT /F1 12 Tf 72 700 Td (Lorem ipsum) Tj ET",
         "Lorem ipsum"},
        {"embedded CMap using a predefined one",
         {"8 0 R", "Japan1", "/90ms-RKSJ-H usecmap", ""},
         "BT /F1 12 Tf 72 700 Td <82a0> Tj ET",
         "\xE3\x81\x82"},
        {"ToUnicode in sections",
         {"/Identity-H", "Identity", "", sections},
         "BT /F1 12 Tf 72 700 Td <0001000200030004> Tj ET",
         "\xE4\xB8\x9C\xE5\x8C\x97\xE7\x94\xB5\xE7\x94\xB6"},
        // Top to bottom in a column, columns right to left.
        {"vertical columns", kGBVertical,
         "BT /F1 12 Tf 300 700 Td <4e2d6587> Tj ET BT /F1 12 Tf 286 700 Td <56fd8bed> Tj ET",
         "\xE4\xB8\xAD\xE6\x96\x87\r\n\xE5\x9B\xBD\xE8\xAF\xAD"},
        // A vertical string advances downwards: the next string goes on below it.
        {"vertical advance", kGBVertical,
         "BT /F1 12 Tf 300 700 Td <4e2d> Tj [<6587> 1000 <56fd>] TJ ET",
         "\xE4\xB8\xAD\xE6\x96\x87 \xE5\x9B\xBD"},
        // A horizontal font set one glyph under another: CJK reads as columns, digits as lines.
        {"stacked CJK glyphs",
         {"/Identity-H", "GB1", "", ""},
         "BT /F1 12 Tf 300 700 Td <0064> Tj 0 -12 Td <0065> Tj ET "
         "BT /F1 12 Tf 286 700 Td <0066> Tj 0 -12 Td <0067> Tj ET",
         "\xE4\xB8\xAD\xE6\x96\x87\r\n\xE5\x9B\xBD\xE8\xAF\xAD"},
        {"stacked digits", kRKSJFont, "BT /F1 12 Tf 300 700 Td <31> Tj 0 -12 Td <32> Tj ET",
         "1\r\n2"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(readingText(page(row.Font, row.Content)), row.Text);
    }
}

TEST_F(CIDMaps, WithoutTheFolderPredefinedCMapsGiveNoText) {
    const std::string file = page(kRKSJFont, "BT /F1 12 Tf 72 700 Td <82a0> Tj ET");
    SetCMapFolder((Folder() / "absent").string());
    EXPECT_EQ(readingText(file), "");
    SetCMapFolder(Folder().string());
    EXPECT_EQ(readingText(file), "\xE3\x81\x82");
}

TEST_F(CIDMaps, HostileMapsStayBounded) {
    // A map that uses itself, and a name that would leave the folder.
    write("Adobe-GB1/Loop-H", "/Loop-H usecmap 1 begincodespacerange <00> <ff> endcodespacerange"
                              " 1 begincidrange <00> <ff> 5 endcidrange");
    const auto loop = TPDFCMapLibrary::Predefined("Loop-H");
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->CID({0x10, 1}).value_or(0), 0x15u);
    EXPECT_EQ(TPDFCMapLibrary::Predefined("../Adobe-GB1/Loop-H"), nullptr);
    // Codes longer than four bytes and unterminated sections read as far as they are valid.
    const auto cut = TPDFCMapLibrary::Embedded(
        "2 begincodespacerange <00> <7f> <0000000000> <ffffffffff> endcodespacerange"
        " 1 begincidrange <00> <7f> 1");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->Next("\x41\xC0", 1).Length, 1);
    EXPECT_EQ(cut->CID(cut->Next("\x41", 0)).value_or(0), 0x42u);
}
