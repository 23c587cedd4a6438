// The facade: the document registry, encryption answers and passwords, pages and units.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::EncryptionParams;
using tolvane_test::MakeSimplePdf;

namespace {

std::string pages(int count) {
    return MakeSimplePdf(std::vector<std::string>(std::size_t(count), "BT ET"));
}

// One 500 x 700 page reading "BT (secret) Tj ET", under RC4 with 40 (V 1 R 2) or 128 bits.
std::string encrypted(int keyBits, const std::string& user, const std::string& owner,
                      std::int32_t permissions = -4, bool objectStreams = false) {
    tolvane_test::SimpleDocOptions options;
    options.Encrypted = true;
    EncryptionParams& p = options.Encryption;
    p.KeyBits = keyBits;
    p.Version = keyBits == 40 ? 1 : 2;
    p.Revision = keyBits == 40 ? 2 : 3;
    p.UserPassword = user;
    p.OwnerPassword = owner;
    p.Permissions = permissions;
    options.UseObjectStreams = objectStreams;
    options.Width = 500;
    options.Height = 700;
    return MakeSimplePdf({"BT (secret) Tj ET"}, options);
}

// A standard handler in a form that is not decrypted (V 3).
std::string unsupportedEncryption() {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
    w.Set(4, "<< /Filter /Standard /V 3 /R 4 /Length 128 /O (o) /U (u) /P -4 >>");
    w.TrailerExtra = "/Encrypt 4 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00>]";
    return w.Finish();
}

int currentIndex(TKorvel& korvel) {
    return korvel.SelectedDocumentObject().PageTree().CurrentIndex();
}

} // namespace

TEST(Korvel, CreateHoldsOneBlankLetterSizedPageSelectedWithProducerAndDates) {
    TKorvel korvel;
    EXPECT_EQ(korvel.PageCount(), 1);
    EXPECT_EQ(korvel.PageWidth(), 612);
    EXPECT_EQ(korvel.PageHeight(), 792);
    EXPECT_EQ(korvel.SelectPage(1), 1);
    EXPECT_EQ(currentIndex(korvel), 1);
    EXPECT_EQ(korvel.Encrypted(), 0);
    EXPECT_EQ(korvel.LastErrorCode(), 0);

    const TPDFDictionary* info = korvel.SelectedDocumentObject().InfoDictionary();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetText("Producer"), "Tolvane Text Extractor");
    EXPECT_EQ(info->GetText("Creator"), "Tolvane Text Extractor");
    for (const char* key : {"CreationDate", "ModDate"}) {
        const std::string date = info->GetText(key);
        ASSERT_EQ(date.size(), 16u) << key;
        EXPECT_EQ(date.substr(0, 2), "D:");
        EXPECT_EQ(date.find_first_not_of("0123456789", 2), std::string::npos) << date;
    }
}

// ---- registry -----------------------------------------------------------------------------

TEST(Korvel, RemovingTheSelectedSelectsItsNeighbourAndTheLastDocumentStays) {
    TKorvel korvel;
    std::int32_t ids[4] = {korvel.SelectedDocument()}; // the blank one, then 2, 3 and 4 pages
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(korvel.LoadFromBytes(pages(i + 1)), 1);
        ids[i] = korvel.SelectedDocument();
        EXPECT_NE(ids[i], ids[i - 1]);
        EXPECT_EQ(korvel.PageCount(), i + 1);
    }
    // Removing the selected one selects the one before it, or after it when it was first.
    ASSERT_EQ(korvel.SelectDocument(ids[2]), 1);
    EXPECT_EQ(korvel.RemoveDocument(ids[2]), 1);
    EXPECT_EQ(korvel.SelectedDocument(), ids[1]);
    ASSERT_EQ(korvel.SelectDocument(ids[0]), 1);
    EXPECT_EQ(korvel.RemoveDocument(ids[0]), 1);
    EXPECT_EQ(korvel.SelectedDocument(), ids[1]);
    // Removing another one keeps the selection.
    EXPECT_EQ(korvel.RemoveDocument(ids[3]), 1);
    EXPECT_EQ(korvel.SelectedDocument(), ids[1]);
    EXPECT_EQ(korvel.PageCount(), 2);
    // The last document cannot be removed, the blank one no more than another.
    EXPECT_EQ(korvel.RemoveDocument(ids[1]), 0);
    EXPECT_EQ(korvel.SelectedDocument(), ids[1]);
    TKorvel fresh;
    EXPECT_EQ(fresh.RemoveDocument(fresh.SelectedDocument()), 0);
    EXPECT_EQ(fresh.PageCount(), 1);
}

TEST(Korvel, RemovedIDsCannotBeSelectedAndAreNeverHandedOutAgain) {
    TKorvel korvel;
    std::set<std::int32_t> seen{korvel.SelectedDocument()};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(korvel.LoadFromBytes(pages(1)), 1);
        const std::int32_t id = korvel.SelectedDocument();
        EXPECT_TRUE(seen.insert(id).second) << id;
        EXPECT_EQ(korvel.RemoveDocument(id), 1);
        EXPECT_EQ(korvel.SelectDocument(id), 0);
        EXPECT_EQ(korvel.RemoveDocument(id), 0);
    }
    EXPECT_EQ(korvel.SelectDocument(12345), 0);
}

TEST(Korvel, FilesAndStreamsLoadAndFailedLoadsLeaveTheRegistryAsItWas) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("korvel_test_" + std::to_string(getpid()) + ".pdf");
    std::ofstream(path, std::ios::binary) << pages(2);
    TKorvel korvel;
    EXPECT_EQ(korvel.LoadFromFile(path.string()), 1);
    EXPECT_EQ(korvel.PageCount(), 2);
    std::filesystem::remove(path);
    std::istringstream in(pages(3));
    EXPECT_EQ(korvel.LoadFromStream(in), 1);
    EXPECT_EQ(korvel.PageCount(), 3);

    const std::int32_t selected = korvel.SelectedDocument();
    EXPECT_EQ(korvel.LoadFromFile(path.string()), 0); // missing
    EXPECT_EQ(korvel.LoadFromFile(std::filesystem::temp_directory_path().string()), 0);
    EXPECT_EQ(korvel.LoadFromBytes("not a PDF at all"), 0);
    EXPECT_EQ(korvel.SelectedDocument(), selected);
    EXPECT_EQ(korvel.PageCount(), 3);
    EXPECT_EQ(korvel.LastErrorCode(), 0);
}

// ---- pages --------------------------------------------------------------------------------

TEST(Korvel, SelectPageZeroOnPageThreeOfFiveAnswersZeroAndStaysAtThree) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(pages(5)), 1);
    ASSERT_EQ(korvel.SelectPage(3), 1);
    for (const int outOfRange : {0, 6}) {
        EXPECT_EQ(korvel.SelectPage(outOfRange), 0);
        EXPECT_EQ(currentIndex(korvel), 3);
    }
    EXPECT_EQ(korvel.SelectPage(5), 1);

    // Without a selectable page no number is a success, page 0 included.
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Count 3 /Kids [] >>");
    ASSERT_EQ(korvel.LoadFromBytes(w.Finish()), 1);
    EXPECT_EQ(korvel.PageCount(), 3);
    EXPECT_EQ(korvel.SelectPage(0), 0);
    EXPECT_EQ(korvel.SelectPage(2), 0);
    EXPECT_EQ(korvel.PageWidth(), 0);
}

TEST(Korvel, MeasurementUnitsScaleSizesAndOriginIsStored) {
    TKorvel korvel;
    const std::pair<int, double> units[] = {{1, 215.9}, {2, 8.5}, {7, 612}, {0, 612}};
    for (const auto& [unit, width] : units) {
        korvel.SetMeasurementUnits(unit);
        EXPECT_DOUBLE_EQ(korvel.PageWidth(), width) << unit;
    }
    korvel.SetMeasurementUnits(2);
    EXPECT_DOUBLE_EQ(korvel.PageHeight(), 11);
    const std::pair<int, int> origins[] = {{3, 3}, {4, 0}, {-1, 0}};
    for (const auto& [origin, stored] : origins) {
        korvel.SetOrigin(origin);
        EXPECT_EQ(korvel.Origin(), stored) << origin;
    }
    // Settings belong to a document: a new one starts in points.
    ASSERT_EQ(korvel.LoadFromBytes(pages(1)), 1);
    EXPECT_EQ(korvel.PageWidth(), 612);
}

// ---- security -----------------------------------------------------------------------------

TEST(Korvel, SecurityInfoAnswersItsRowForEachKindKeyLengthAndPermissions) {
    using Row = std::array<int, 11>;
    // Printing without high quality (no 2048), no modifying (8), no annotations (32), no form
    // filling (256) at 128 bits; no printing (4), copying (16) or annotations at 40 bits, where
    // 2048 plays no part.
    const std::int32_t p128 = -4 & ~2048 & ~8 & ~32 & ~256, p40 = -4 & ~4 & ~16 & ~32;
    const struct {
        const char* name;
        std::string file;
        int kind;
        Row row;
        int outOfRange; // items -1 and 11
    } cases[] = {
        {"not encrypted", pages(1), 0, {0, 2, 2, 4, 6, 6, 6, 6, 6, 6, 11}, 11},
        {"40 bits",
         encrypted(40, "", "owner", -4 & ~2048),
         1,
         {1, 2, 3, 4, 6, 6, 6, 5, 5, 5, 7},
         11},
        {"128 bits", encrypted(128, "", ""), 1, {1, 2, 2, 4, 6, 6, 6, 6, 6, 6, 8}, 11},
        {"128 bits, restricted",
         encrypted(128, "", "owner", p128),
         1,
         {1, 2, 3, 10, 5, 6, 5, 5, 6, 6, 8},
         11},
        {"40 bits, restricted",
         encrypted(40, "u", "o", p40),
         1,
         {1, 3, 3, 5, 6, 5, 5, 5, 5, 5, 7},
         11},
        {"unsupported", unsupportedEncryption(), 2, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(c.file), 1);
        EXPECT_EQ(korvel.Encrypted(), c.kind);
        Row row{};
        for (int i = 0; i <= 10; ++i)
            row[std::size_t(i)] = korvel.SecurityInfo(i);
        EXPECT_EQ(row, c.row);
        EXPECT_EQ(korvel.SecurityInfo(-1), c.outOfRange);
        EXPECT_EQ(korvel.SecurityInfo(11), c.outOfRange);
    }
}

TEST(Korvel, SetPasswordTellsUserOwnerBothNeitherAndUnsupported) {
    TKorvel korvel;
    EXPECT_EQ(korvel.SetPassword("anything"), 3); // not encrypted
    ASSERT_EQ(korvel.LoadFromBytes(encrypted(128, "user", "owner")), 1);
    EXPECT_EQ(korvel.SecurityInfo(1), 3);
    EXPECT_EQ(korvel.SetPassword("wrong"), 0);
    EXPECT_EQ(korvel.SetPassword("user"), 1);
    EXPECT_EQ(korvel.SetPassword("owner"), 2);
    EXPECT_EQ(korvel.SetPassword("wrong"), 0);
    // After the owner password item 2 knows it; the wrong one changed nothing.
    EXPECT_EQ(korvel.SecurityInfo(2), 2);

    ASSERT_EQ(korvel.LoadFromBytes(encrypted(40, "both", "both")), 1);
    EXPECT_EQ(korvel.SetPassword("both"), 5);

    ASSERT_EQ(korvel.LoadFromBytes(unsupportedEncryption()), 1);
    EXPECT_EQ(korvel.SetPassword(""), 4);
    EXPECT_EQ(korvel.SetPassword("u"), 4);
    EXPECT_EQ(korvel.PageWidth(), 100);
}

TEST(Korvel, TheUserPasswordMakesThePageReadableAndObjectStreamsReloadUnderTheSameID) {
    for (const bool objectStreams : {false, true}) {
        SCOPED_TRACE(objectStreams);
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(encrypted(128, "user", "owner", -4, objectStreams)), 1);
        const std::int32_t id = korvel.SelectedDocument();
        EXPECT_EQ(korvel.SetPassword("user"), 1);
        EXPECT_EQ(korvel.SelectedDocument(), id);
        EXPECT_EQ(korvel.PageCount(), 1);
        EXPECT_EQ(currentIndex(korvel), 1);
        ASSERT_EQ(korvel.SelectPage(1), 1);
        EXPECT_EQ(korvel.PageWidth(), 500);
        EXPECT_EQ(korvel.PageHeight(), 700);
        TPDFPageTree& tree = korvel.SelectedDocumentObject().PageTree();
        tree.SetStreamCursor(1);
        EXPECT_EQ(tree.ContentData(), "BT (secret) Tj ET");
    }
}

TEST(KorvelPageText, ContentStreamsJoinWithNothingBetweenAndOnlyASelectedPageHasText) {
    // Page 1's text object is split over two content streams; page 2 is listed but missing.
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [4 0 R 5 0 R] "
             "/Resources << /Font << /F1 6 0 R >> >> >>");
    w.SetStream(4, "", "BT /F1 12 Tf 72 700 Td (Hel");
    w.SetStream(5, "", "lo) Tj ET");
    w.Set(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    TKorvel korvel;
    for (int option = -1; option <= 5; ++option)
        EXPECT_EQ(korvel.GetPageText(option), "") << "blank document, option " << option;
    ASSERT_EQ(korvel.LoadFromBytes(w.Finish()), 1);
    ASSERT_EQ(korvel.SelectPage(1), 1);
    const std::string text = korvel.GetPageText(0);
    EXPECT_NE(text.find("Hello"), std::string::npos) << text;
    EXPECT_EQ(korvel.GetPageText(1), text);
    EXPECT_EQ(korvel.GetPageText(2), "72.00,700.00,#000000,12.00,\"Helvetica\",\"Hello\"");
    for (const int option : {-1, 5})
        EXPECT_EQ(korvel.GetPageText(option), "");
    // Page 2 cannot be located: no text, never page 1's again.
    EXPECT_EQ(korvel.SelectPage(2), 0);
    for (const int option : {0, 1, 2})
        EXPECT_EQ(korvel.GetPageText(option), "") << option;
}

namespace {

// A stream whose reading fails with an exception of the caller's choice; its stream rethrows it.
class TThrowingBuffer : public std::streambuf {
public:
    explicit TThrowingBuffer(std::function<void()> fail) : FFail(std::move(fail)) {}

protected:
    int_type underflow() override {
        FFail();
        return traits_type::eof();
    }

private:
    std::function<void()> FFail;
};

} // namespace

TEST(Korvel, RunningOutOfMemoryWhileLoadingPassesThroughWhileAReadErrorIsAFailedLoad) {
    struct {
        const char* name;
        std::function<void()> fail;
        const char* outcome;
    } rows[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, "bad_alloc"},
        {"length_error", [] { throw std::length_error("too long"); }, "length_error"},
        {"read error", [] { throw std::runtime_error("disk"); }, "result 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TKorvel korvel;
        const std::int32_t blank = korvel.SelectedDocument();
        TThrowingBuffer buffer(row.fail);
        std::istream stream(&buffer);
        stream.exceptions(std::ios::badbit);
        std::string outcome;
        try {
            outcome = "result " + std::to_string(korvel.LoadFromStream(stream));
        } catch (const std::bad_alloc&) {
            outcome = "bad_alloc";
        } catch (const std::length_error&) {
            outcome = "length_error";
        } catch (...) {
            outcome = "another exception";
        }
        EXPECT_EQ(outcome, row.outcome);
        EXPECT_EQ(korvel.SelectedDocument(), blank) << "the registry stays as it was";
    }
}

// The reading road through the facade: columns read whole, a turned page reads as displayed,
// and words come with boxes from the top left of the page as it is displayed.
TEST(Korvel, ReadingTextAndWordsFollowTheDisplayedPage) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
    const std::string resources = " /Resources << /Font << /F1 7 0 R >> >>";
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R" + resources +
                 " >>");
    w.SetStream(4, "",
                "BT /F1 10 Tf 72 700 Td (left one) Tj 0 -12 Td (left two) Tj ET "
                "BT /F1 10 Tf 320 700 Td (right one) Tj 0 -12 Td (right two) Tj ET");
    // Turned a quarter clockwise when shown: text drawn upwards reads left to right.
    w.Set(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 /Contents 6 0 R" +
                 resources + " >>");
    w.SetStream(6, "", "BT /F1 10 Tf 0 1 -1 0 300 100 Tm (upright) Tj ET");
    w.Set(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(w.Finish()), 1);
    korvel.SelectPage(1);
    EXPECT_EQ(korvel.GetReadingText(), "left one\r\nleft two\r\n\r\nright one\r\nright two");
    korvel.SelectPage(2);
    EXPECT_EQ(korvel.GetReadingText(), "upright");
    const std::vector<TPageWord> words = korvel.GetPageWords();
    ASSERT_EQ(words.size(), 1u);
    // Shown 792 wide: the baseline x = 300 becomes 300 from the top, y = 100 the left edge.
    EXPECT_NEAR(words[0].X0, 100, 1e-6);
    EXPECT_NEAR(words[0].Bottom, 300 + 10 * 0.207, 0.01); // Helvetica's descent below it
    EXPECT_LT(words[0].Top, words[0].Bottom);
}

// ---------------------------------------------------------------------------------------------
// Fonts through every road

namespace {

// The texts of a page's record lines (the last field of each, unquoted), joined by "|".
std::string recordTexts(const std::string& records) {
    std::string texts;
    std::istringstream lines(records);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t open = line.rfind(",\"");
        if (open == std::string::npos || line.size() < open + 3)
            continue;
        texts += (texts.empty() ? "" : "|") + line.substr(open + 2, line.size() - open - 3);
    }
    return texts;
}

// One page per content stream, all under the given resources entries (PDF syntax inside the
// Resources dictionary), with extra objects from 20 on.
std::string fontPages(const std::vector<std::pair<std::string, std::string>>& pages,
                      const std::vector<std::string>& objects = {}) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int page = 3 + 2 * int(i);
        kids += std::to_string(page) + " 0 R ";
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                        std::to_string(page + 1) + " 0 R /Resources << " + pages[i].first +
                        " >> >>");
        w.SetStream(page + 1, "", pages[i].second);
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (std::size_t i = 0; i < objects.size(); ++i)
        w.Set(20 + int(i), objects[i]);
    return w.Finish();
}

const std::string kHelveticaFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
std::string directFont(const std::string& differences) {
    return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences [" +
           differences + "] >> >>";
}

} // namespace

// A ToUnicode target of several characters gives all of them, in either encoding; characters
// the code page lacks become one "?" each (a surrogate pair is one character).
TEST(KorvelFonts, MultiCharacterToUnicodeTargetsKeepEveryCharacter) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
             "/Resources << /Font << /F1 5 0 R >> >> >>");
    w.SetStream(4, "", "BT /F1 12 Tf 72 700 Td (ABCD) Tj ET");
    w.Set(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>");
    w.SetStream(6, "",
                "begincmap\n1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                "4 beginbfchar\n<41> <006600660069>\n<42> <0416>\n<43> <00650301>\n"
                "<44> <0041D835DC00>\nendbfchar\nendcmap\n");
    const std::string pdf = w.Finish();
    struct Case {
        TTextEncoding Encoding;
        int Option;
        std::string Text;
    };
    const std::string utf8 = "ffi\xD0\x96"
                             "e\xCC\x81"
                             "A\xF0\x9D\x90\x80";
    const std::vector<Case> cases = {
        {TTextEncoding::Cp1252, 0, "ffi?e?A?"},
        {TTextEncoding::Cp1252, 3, "ffi?e?A?"},
        {TTextEncoding::Utf8, 0, utf8},
        {TTextEncoding::Utf8, 3, utf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Encoding == TTextEncoding::Utf8 ? "UTF-8" : "cp1252") +
                     ", option " + std::to_string(c.Option));
        TKorvel korvel;
        korvel.SetTextEncoding(c.Encoding);
        ASSERT_EQ(korvel.LoadFromBytes(pdf), 1);
        ASSERT_EQ(korvel.SelectPage(1), 1);
        const std::string text = korvel.GetPageText(c.Option);
        EXPECT_EQ(c.Option == 0 ? text : recordTexts(text), c.Text) << text;
    }
}

// A font written as a direct dictionary in the page's resources is selected on every road.
TEST(KorvelFonts, DirectFontDictionariesAreSelectedOnEveryRoad) {
    const std::string zed = directFont("65 /Z");
    const std::string why = directFont("65 /Y");
    const std::string lines = "BT /F1 12 Tf 72 700 Td (Ab) Tj ET";
    const std::string mixed = "BT /F1 12 Tf 72 700 Td (Ab) Tj ET BT /F2 12 Tf 72 600 Td (Ab) Tj "
                              "ET BT /F1 12 Tf 72 500 Td (Ab) Tj ET";
    struct Case {
        const char* Name;
        std::string Pdf;
        int Page;
        std::string Raw;     // option 0
        std::string Records; // option 3
        std::string Reading; // the reading layout
    };
    const std::vector<Case> cases = {
        {"the only font is direct", fontPages({{"/Font << /F1 " + zed + " >>", lines}}), 1, "Zb",
         "Zb", "Zb"},
        {"direct and indirect fonts mixed",
         fontPages({{"/Font << /F1 " + zed + " /F2 20 0 R >>", mixed}}, {kHelveticaFont}), 1,
         "Zb \r\nAb \r\nZb", "Zb|Ab|Zb", "Zb\r\n\r\nAb\r\n\r\nZb"},
        {"page 1 of two pages with one name for two direct fonts",
         fontPages(
             {{"/Font << /F1 " + zed + " >>", lines}, {"/Font << /F1 " + why + " >>", lines}}),
         1, "Zb", "Zb", "Zb"},
        {"page 2 of two pages with one name for two direct fonts",
         fontPages(
             {{"/Font << /F1 " + zed + " >>", lines}, {"/Font << /F1 " + why + " >>", lines}}),
         2, "Yb", "Yb", "Yb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(c.Pdf), 1);
        // Both pages are read in turn, so that the second reads after the first.
        for (int page = 1; page <= c.Page; ++page) {
            ASSERT_EQ(korvel.SelectPage(page), 1);
            const std::string raw = korvel.GetPageText(0);
            const std::string records = korvel.GetPageText(3);
            const std::string reading = korvel.GetReadingText();
            if (page < c.Page)
                continue;
            EXPECT_EQ(raw, c.Raw);
            EXPECT_EQ(recordTexts(records), c.Records) << records;
            EXPECT_EQ(reading, c.Reading);
        }
    }
}
