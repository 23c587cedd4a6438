#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFFontRasterizer.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::PdfWriter;

namespace {

// A document of pages, each with its own resources and content; extra objects from 20 on are
// given by number.
struct TDoc {
    const char* Name;
    std::vector<std::string> Resources;
    std::vector<std::string> Contents;
    std::vector<std::pair<int, std::string>> Objects;
};

void PrintTo(const TDoc& doc, std::ostream* os) {
    *os << doc.Name;
}

std::string build(const TDoc& doc) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (std::size_t i = 0; i < doc.Contents.size(); ++i) {
        const int page = 3 + 2 * static_cast<int>(i);
        kids += std::to_string(page) + " 0 R ";
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 300] /Resources " +
                        doc.Resources[i] + " /Contents " + std::to_string(page + 1) + " 0 R >>");
        w.SetStream(page + 1, "", doc.Contents[i]);
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(doc.Contents.size()) +
                 " >>");
    for (const auto& [num, body] : doc.Objects) {
        const auto at = body.find("stream\n");
        if (at == std::string::npos)
            w.Set(num, body);
        else
            w.SetStream(num, body.substr(0, at), body.substr(at + 7));
    }
    return w.Finish();
}

const std::string kToUnicode = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                               "1 begincodespacerange <00> <FF> endcodespacerange\n"
                               "2 beginbfchar <41> <0416> <42> <00660069> endbfchar\n"
                               "endcmap end end\n";
const std::string kToUnicode2 = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                                "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
                                "2 beginbfchar <0041> <0416> <0042> <00DF> endbfchar\n"
                                "endcmap end end\n";
const std::string kText = "BT /F1 12 Tf 20 250 Td (AB Cab) Tj 0 -20 Td [(A) -400 (B)] TJ ET\n"
                          "BT /F2 10 Tf 20 150 Td (more AB) Tj ET\n";
const std::string kTwoByte = "BT /F1 12 Tf 20 250 Td <00410042> Tj 0 -20 Td <0042> Tj ET\n";

// Each document selects some font object on several pages, where a record kept from an
// earlier page could differ from a fresh load.
const TDoc kDocs[] = {
    {"one font object on every page, with Differences, ToUnicode and widths",
     {"<< /Font << /F1 20 0 R /F2 21 0 R >> >>", "<< /Font << /F1 20 0 R /F2 21 0 R >> >>",
      "<< /Font << /F2 20 0 R /F1 21 0 R >> >>"},
     {kText, kText, kText},
     {{20, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences "
           "[65 /eacute /germandbls] >> /ToUnicode 22 0 R /FirstChar 32 /LastChar 98 "
           "/Widths [250 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 700 "
           "800] >>"},
      {21, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Bold /Encoding /WinAnsiEncoding "
           ">>"},
      {22, "<< >>stream\n" + kToUnicode}}},
    {"a font without a space code on some pages only (code 255 stands in)",
     {"<< /Font << /F1 20 0 R /F2 21 0 R >> >>", "<< /Font << /F1 21 0 R /F2 20 0 R >> >>"},
     {kText, kText},
     {{20, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding << /Differences [32 "
           "/A] >> /FirstChar 65 /LastChar 120 >>"},
      {21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}}},
    {"references of another generation than the object's",
     {"<< /Font << /F1 20 1 R /F2 21 0 R >> >>", "<< /Font << /F1 20 0 R /F2 21 0 R >> >>",
      "<< /Font << /F1 20 1 R /F2 21 0 R >> >>"},
     {kText, kText, kText},
     {{20, "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>"},
      {21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 22 0 R >>"},
      {22, "<< >>stream\n" + kToUnicode}}},
    {"a font given directly on one page and by reference on the next",
     {"<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Courier >> /F2 21 0 R >> >>",
      "<< /Font << /F1 21 0 R /F2 21 0 R >> >>"},
     {kText, kText},
     {{21, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /ToUnicode 22 0 R >>"},
      {22, "<< >>stream\n" + kToUnicode}}},
    {"a composite font with its ToUnicode map and widths on two pages",
     {"<< /Font << /F1 20 0 R >> >>", "<< /Font << /F1 20 0 R >> >>"},
     {kTwoByte, kTwoByte},
     {{20, "<< /Type /Font /Subtype /Type0 /BaseFont /Comp /Encoding /Identity-H "
           "/DescendantFonts [23 0 R] /ToUnicode 22 0 R >>"},
      {22, "<< >>stream\n" + kToUnicode2},
      {23, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Comp /CIDSystemInfo << /Registry "
           "(Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 /W [65 [900 300]] >>"}}},
    {"a composite font with a CIDToGIDMap stream and a Type 3 font",
     {"<< /Font << /F1 20 0 R /F2 24 0 R >> >>", "<< /Font << /F1 20 0 R /F2 24 0 R >> >>"},
     {kTwoByte + "BT /F2 10 Tf 20 100 Td (AB) Tj ET\n",
      kTwoByte + "BT /F2 10 Tf 20 100 Td (AB) Tj ET\n"},
     {{20, "<< /Type /Font /Subtype /Type0 /BaseFont /Comp /Encoding /Identity-H "
           "/DescendantFonts [23 0 R] >>"},
      {23, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Comp /CIDToGIDMap 25 0 R >>"},
      {25, "<< >>stream\n" + std::string(200, '\1')},
      {24, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 "
           "0.001 0 0] /CharProcs << /A 26 0 R /B 26 0 R >> /Encoding << /Differences [65 /A "
           "/B] >> /FirstChar 65 /LastChar 66 /Widths [600 700] >>"},
      {26, "<< >>stream\n600 0 d0 0 0 500 500 re f"}}},
};

// What one call on the selected page gives: an option (0 to 4) or, for 5, the reading text.
std::string pageText(TKorvel& korvel, int road) {
    return road < 5 ? korvel.GetPageText(road) : korvel.GetReadingText();
}

class FontRecords : public testing::TestWithParam<TDoc> {};

// Pages of one load take the records earlier pages loaded: every call, in any order of pages,
// roads and text encodings, gives what a fresh load of the document gives.
TEST_P(FontRecords, EveryCallMatchesAFreshLoad) {
    const std::string file = build(GetParam());
    const int pageCount = static_cast<int>(GetParam().Contents.size());
    TKorvel kept;
    ASSERT_GT(kept.LoadFromBytes(file), 0);
    for (const TTextEncoding encoding : {TTextEncoding::Cp1252, TTextEncoding::Utf8})
        for (int road = 0; road <= 5; ++road)
            for (int step = 0; step < 2 * pageCount; ++step) {
                // Forwards, then backwards.
                const int page = step < pageCount ? step + 1 : 2 * pageCount - step;
                kept.SetTextEncoding(encoding);
                ASSERT_EQ(kept.SelectPage(page), 1);
                TKorvel fresh;
                ASSERT_GT(fresh.LoadFromBytes(file), 0);
                fresh.SetTextEncoding(encoding);
                ASSERT_EQ(fresh.SelectPage(page), 1);
                EXPECT_EQ(pageText(kept, road), pageText(fresh, road))
                    << "page " << page << " road " << road << " encoding "
                    << static_cast<int>(encoding);
            }
}

INSTANTIATE_TEST_SUITE_P(Documents, FontRecords, testing::ValuesIn(kDocs),
                         [](const testing::TestParamInfo<TDoc>& info) {
                             return "Doc" + std::to_string(info.index);
                         });

// The settings a collection may differ in, each applied to a fresh collection.
struct TSettingsCase {
    const char* Name;
    void (*Apply)(TPDFFontCollection&);
};
const TSettingsCase kSettings[] = {
    {"as extraction", [](TPDFFontCollection&) {}},
    {"without programs", [](TPDFFontCollection& f) { f.LoadPrograms = false; }},
    {"without standard programs", [](TPDFFontCollection& f) { f.StandardPrograms = false; }},
    {"without glyph names as text", [](TPDFFontCollection& f) { f.GlyphNamesAsText = false; }},
    {"codes by CMap", [](TPDFFontCollection& f) { f.CodesByCMap = true; }},
};

// A record is shared only between collections of the same settings and encoding: one loaded
// without the standard font's program never reaches a collection that reads programs.
TEST(FontRecordCache, SharesRecordsOnlyUnderTheSameSettings) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    w.Set(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    TPDFStructure refs;
    refs.OnResolve = [&doc](const TPDFIndRef*, std::int32_t num, std::int32_t gen) {
        return doc.ResolveRef(num, gen);
    };
    TPDFFontProgramCache programs;
    TPDFFontRecordCache records;
    const auto select = [&](const TSettingsCase& settings, TTextEncoding encoding) {
        TPDFFontCollection fonts(encoding, &programs, &records);
        fonts.LoadPrograms = true;
        settings.Apply(fonts);
        return fonts.Select(refs.CreateRef(5, 0));
    };
    std::vector<const TPDFFontCollectionData*> seen;
    for (const TTextEncoding encoding : {TTextEncoding::Cp1252, TTextEncoding::Utf8})
        for (const TSettingsCase& settings : kSettings) {
            const TPDFFontCollectionData* first = select(settings, encoding);
            EXPECT_EQ(select(settings, encoding), first) << settings.Name << " shares its record";
            for (const TPDFFontCollectionData* other : seen)
                EXPECT_NE(first, other) << settings.Name;
            seen.push_back(first);
            if (std::string_view(settings.Name) == "without standard programs")
                EXPECT_EQ(first->Program, nullptr);
            else if (std::string_view(settings.Name) != "without programs")
                EXPECT_NE(first->Program, nullptr) << settings.Name;
        }
}

std::shared_ptr<const TPDFFontCollectionData> record() {
    return std::make_shared<const TPDFFontCollectionData>();
}

// The budget holds: the least recently used entries go first, one larger than the whole
// budget is never kept, and a key of other settings is another entry.
TEST(FontRecordCache, KeepsTheRecentlyUsedWithinItsBudget) {
    TPDFFontRecordCache cache(1000);
    const TPDFFontRecordCache::TKey a{5, 0, 1}, b{6, 0, 1}, c{7, 0, 1}, a2{5, 0, 2};
    cache.Insert(a, {record(), 0, false, 400});
    cache.Insert(b, {record(), 0, false, 400});
    ASSERT_TRUE(cache.Find(a)); // a is now the most recent
    cache.Insert(c, {record(), 0, false, 400});
    EXPECT_TRUE(cache.Find(a));
    EXPECT_FALSE(cache.Find(b));
    EXPECT_TRUE(cache.Find(c));
    EXPECT_FALSE(cache.Find(a2));
    EXPECT_LE(cache.Bytes(), 1000u);
    cache.Insert(a2, {record(), 0, false, 1001});
    EXPECT_FALSE(cache.Find(a2));
    // Replacing an entry does not count its old size twice.
    cache.Insert(a, {record(), 3, true, 500});
    EXPECT_EQ(cache.Bytes(), 900u);
    EXPECT_EQ(cache.Find(a)->CMapRanges, 3u);
}

} // namespace
