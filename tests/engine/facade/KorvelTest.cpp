// The facade: the document registry, encryption answers and passwords, pages and units.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

#include "facade/uKorvel.h"
#include "file/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::EncryptionParams;
using tolvane_test::MakeSimplePdf;
using tolvane_test::SimpleDocOptions;

namespace {

std::string pages(int count) {
    return MakeSimplePdf(std::vector<std::string>(std::size_t(count), "BT ET"));
}

std::string encrypted(const EncryptionParams& params, bool objectStreams = false) {
    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption = params;
    options.UseObjectStreams = objectStreams;
    options.Width = 500;
    options.Height = 700;
    return MakeSimplePdf({"BT (secret) Tj ET"}, options);
}

EncryptionParams rc4(int keyBits, const std::string& user, const std::string& owner,
                     std::int32_t permissions = -4) {
    EncryptionParams p;
    p.KeyBits = keyBits;
    p.Version = keyBits == 40 ? 1 : 2;
    p.Revision = keyBits == 40 ? 2 : 3;
    p.UserPassword = user;
    p.OwnerPassword = owner;
    p.Permissions = permissions;
    return p;
}

std::array<int, 11> securityRow(TKorvel& korvel) {
    std::array<int, 11> row{};
    for (int i = 0; i <= 10; ++i)
        row[std::size_t(i)] = korvel.SecurityInfo(i);
    return row;
}

// A standard handler in a form that is not decrypted (V 4).
std::string unsupportedEncryption() {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
    w.Set(4, "<< /Filter /Standard /V 4 /R 4 /Length 128 /O (o) /U (u) /P -4 >>");
    w.TrailerExtra = "/Encrypt 4 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00>]";
    return w.Finish();
}

} // namespace

// ---- creation -----------------------------------------------------------------------------

TEST(Korvel, CreateHoldsOneBlankLetterSizedPageSelected) {
    TKorvel korvel;
    EXPECT_EQ(korvel.PageCount(), 1);
    EXPECT_EQ(korvel.PageWidth(), 612);
    EXPECT_EQ(korvel.PageHeight(), 792);
    EXPECT_EQ(korvel.SelectPage(1), 1);
    EXPECT_EQ(korvel.Encrypted(), 0);
    EXPECT_EQ(korvel.LastErrorCode(), 0);
    EXPECT_EQ(korvel.SelectedDocumentObject().PageTree().CurrentIndex(), 1);
}

TEST(Korvel, TheBlankDocumentCarriesProducerCreatorAndDates) {
    TKorvel korvel;
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

TEST(Korvel, LoadingAppendsAndSelectsAndRemovingTheSelectedSelectsTheOneBefore) {
    TKorvel korvel;
    const std::int32_t blank = korvel.SelectedDocument();
    ASSERT_EQ(korvel.LoadFromBytes(pages(2)), 1);
    const std::int32_t first = korvel.SelectedDocument();
    ASSERT_EQ(korvel.LoadFromBytes(pages(3)), 1);
    const std::int32_t second = korvel.SelectedDocument();
    EXPECT_NE(first, blank);
    EXPECT_NE(second, first);
    EXPECT_EQ(korvel.PageCount(), 3);

    EXPECT_EQ(korvel.RemoveDocument(second), 1);
    EXPECT_EQ(korvel.SelectedDocument(), first);
    EXPECT_EQ(korvel.PageCount(), 2);
    EXPECT_EQ(korvel.RemoveDocument(first), 1);
    EXPECT_EQ(korvel.SelectedDocument(), blank);
    // The blank document is the last one now and stays.
    EXPECT_EQ(korvel.RemoveDocument(blank), 0);
    EXPECT_EQ(korvel.SelectedDocument(), blank);
    EXPECT_EQ(korvel.PageCount(), 1);
}

TEST(Korvel, RemovingTheSelectedFirstDocumentSelectsTheSecond) {
    TKorvel korvel;
    const std::int32_t blank = korvel.SelectedDocument();
    ASSERT_EQ(korvel.LoadFromBytes(pages(2)), 1);
    const std::int32_t loaded = korvel.SelectedDocument();
    ASSERT_EQ(korvel.LoadFromBytes(pages(3)), 1);
    ASSERT_EQ(korvel.SelectDocument(blank), 1);
    EXPECT_EQ(korvel.RemoveDocument(blank), 1);
    EXPECT_EQ(korvel.SelectedDocument(), loaded);
}

TEST(Korvel, RemovingAnotherDocumentKeepsTheSelection) {
    TKorvel korvel;
    const std::int32_t blank = korvel.SelectedDocument();
    ASSERT_EQ(korvel.LoadFromBytes(pages(2)), 1);
    ASSERT_EQ(korvel.LoadFromBytes(pages(3)), 1);
    const std::int32_t last = korvel.SelectedDocument();
    EXPECT_EQ(korvel.RemoveDocument(blank), 1);
    EXPECT_EQ(korvel.SelectedDocument(), last);
    EXPECT_EQ(korvel.PageCount(), 3);
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

TEST(Korvel, AFailedLoadLeavesTheRegistryAsItWas) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(pages(4)), 1);
    const std::int32_t selected = korvel.SelectedDocument();
    EXPECT_EQ(korvel.LoadFromBytes("not a PDF at all"), 0);
    EXPECT_EQ(korvel.SelectedDocument(), selected);
    EXPECT_EQ(korvel.PageCount(), 4);
    EXPECT_EQ(korvel.LastErrorCode(), 0);
}

TEST(Korvel, LoadFromFileReadsAFileAndAnswersZeroForAMissingOne) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("korvel_test_" + std::to_string(getpid()) + ".pdf");
    {
        std::ofstream out(path, std::ios::binary);
        out << pages(2);
    }
    TKorvel korvel;
    EXPECT_EQ(korvel.LoadFromFile(path.string()), 1);
    EXPECT_EQ(korvel.PageCount(), 2);
    std::filesystem::remove(path);
    const std::int32_t selected = korvel.SelectedDocument();
    EXPECT_EQ(korvel.LoadFromFile(path.string()), 0);
    EXPECT_EQ(korvel.SelectedDocument(), selected);
    EXPECT_EQ(korvel.LoadFromFile(std::filesystem::temp_directory_path().string()), 0);
}

TEST(Korvel, LoadFromStreamReadsTheWholeStream) {
    TKorvel korvel;
    std::istringstream in(pages(3));
    EXPECT_EQ(korvel.LoadFromStream(in), 1);
    EXPECT_EQ(korvel.PageCount(), 3);
}

// ---- pages --------------------------------------------------------------------------------

TEST(Korvel, SelectPageZeroOnPageThreeOfFiveAnswersZeroAndStaysAtThree) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(pages(5)), 1);
    ASSERT_EQ(korvel.SelectPage(3), 1);
    EXPECT_EQ(korvel.SelectPage(0), 0);
    EXPECT_EQ(korvel.SelectedDocumentObject().PageTree().CurrentIndex(), 3);
    EXPECT_EQ(korvel.SelectPage(6), 0);
    EXPECT_EQ(korvel.SelectedDocumentObject().PageTree().CurrentIndex(), 3);
    EXPECT_EQ(korvel.SelectPage(5), 1);
}

TEST(Korvel, PageZeroOfADocumentWithoutSelectablePagesIsNoSuccess) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Count 3 /Kids [] >>");
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(w.Finish()), 1);
    EXPECT_EQ(korvel.PageCount(), 3);
    EXPECT_EQ(korvel.SelectPage(0), 0);
    EXPECT_EQ(korvel.SelectPage(2), 0);
    EXPECT_EQ(korvel.PageWidth(), 0);
}

TEST(Korvel, MeasurementUnitsScaleSizesAndOriginIsStored) {
    TKorvel korvel;
    korvel.SetMeasurementUnits(1);
    EXPECT_DOUBLE_EQ(korvel.PageWidth(), 215.9);
    korvel.SetMeasurementUnits(2);
    EXPECT_DOUBLE_EQ(korvel.PageWidth(), 8.5);
    EXPECT_DOUBLE_EQ(korvel.PageHeight(), 11);
    korvel.SetMeasurementUnits(7);
    EXPECT_EQ(korvel.PageWidth(), 612);

    korvel.SetOrigin(3);
    EXPECT_EQ(korvel.SelectedDocumentObject().Origin, 3);
    korvel.SetOrigin(4);
    EXPECT_EQ(korvel.SelectedDocumentObject().Origin, 0);
    korvel.SetOrigin(-1);
    EXPECT_EQ(korvel.SelectedDocumentObject().Origin, 0);

    // Settings belong to a document: a new one starts in points.
    korvel.SetMeasurementUnits(2);
    ASSERT_EQ(korvel.LoadFromBytes(pages(1)), 1);
    EXPECT_EQ(korvel.PageWidth(), 612);
}

// ---- security -----------------------------------------------------------------------------

TEST(Korvel, AnUnencryptedDocumentAnswersTheFixedRow) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(pages(1)), 1);
    const std::array<int, 11> row{0, 2, 2, 4, 6, 6, 6, 6, 6, 6, 11};
    EXPECT_EQ(securityRow(korvel), row);
    EXPECT_EQ(korvel.SecurityInfo(11), 11);
    EXPECT_EQ(korvel.SecurityInfo(-1), 11);
    EXPECT_EQ(korvel.SetPassword("anything"), 3);
}

TEST(Korvel, SetPasswordTellsUserOwnerBothAndNeither) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(128, "user", "owner"))), 1);
    EXPECT_EQ(korvel.Encrypted(), 1);
    EXPECT_EQ(korvel.SecurityInfo(1), 3);
    EXPECT_EQ(korvel.SetPassword("wrong"), 0);
    EXPECT_EQ(korvel.SetPassword("user"), 1);
    EXPECT_EQ(korvel.SetPassword("owner"), 2);
    EXPECT_EQ(korvel.SetPassword("wrong"), 0);
    // After the owner password item 2 knows it; the wrong one changed nothing.
    EXPECT_EQ(korvel.SecurityInfo(2), 2);

    TKorvel same;
    ASSERT_EQ(same.LoadFromBytes(encrypted(rc4(40, "both", "both"))), 1);
    EXPECT_EQ(same.SetPassword("both"), 5);
}

TEST(Korvel, TheUserPasswordMakesThePageReadable) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(128, "user", "owner"))), 1);
    ASSERT_EQ(korvel.SetPassword("user"), 1);
    ASSERT_EQ(korvel.SelectPage(1), 1);
    TPDFPageTree& tree = korvel.SelectedDocumentObject().PageTree();
    tree.SetStreamCursor(1);
    EXPECT_EQ(tree.ContentData(), "BT (secret) Tj ET");
    EXPECT_EQ(korvel.PageWidth(), 500);
}

TEST(Korvel, APasswordForObjectStreamsReloadsTheDocumentUnderTheSameID) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(128, "user", "owner"), true)), 1);
    const std::int32_t id = korvel.SelectedDocument();
    EXPECT_EQ(korvel.SetPassword("user"), 1);
    EXPECT_EQ(korvel.SelectedDocument(), id);
    EXPECT_EQ(korvel.PageCount(), 1);
    EXPECT_EQ(korvel.SelectedDocumentObject().PageTree().CurrentIndex(), 1);
    ASSERT_EQ(korvel.SelectPage(1), 1);
    EXPECT_EQ(korvel.PageWidth(), 500);
    EXPECT_EQ(korvel.PageHeight(), 700);
    TPDFPageTree& tree = korvel.SelectedDocumentObject().PageTree();
    tree.SetStreamCursor(1);
    EXPECT_EQ(tree.ContentData(), "BT (secret) Tj ET");
}

TEST(Korvel, SecurityRowsOfFortyAndHundredTwentyEightBitDocuments) {
    {
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(40, "", "owner"))), 1);
        const std::array<int, 11> row{1, 2, 3, 4, 6, 6, 6, 5, 5, 5, 7};
        EXPECT_EQ(securityRow(korvel), row);
    }
    {
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(128, "", ""))), 1);
        const std::array<int, 11> row{1, 2, 2, 4, 6, 6, 6, 6, 6, 6, 8};
        EXPECT_EQ(securityRow(korvel), row);
    }
    {
        // Printing without high quality (no 2048), no modifying (8), no annotations (32), no
        // form filling (256) at 128 bits.
        const std::int32_t p = -4 & ~2048 & ~8 & ~32 & ~256;
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(128, "", "owner", p))), 1);
        const std::array<int, 11> row{1, 2, 3, 10, 5, 6, 5, 5, 6, 6, 8};
        EXPECT_EQ(securityRow(korvel), row);
    }
    {
        // No printing at all; at 40 bits the 2048 bit plays no part but printing needs 4.
        const std::int32_t p = -4 & ~4 & ~16;
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(encrypted(rc4(40, "u", "o", p))), 1);
        const std::array<int, 11> row{1, 3, 3, 5, 6, 5, 6, 5, 5, 5, 7};
        EXPECT_EQ(securityRow(korvel), row);
        EXPECT_EQ(korvel.SecurityInfo(11), 11);
    }
}

TEST(Korvel, AnUnsupportedHandlerAnswersNineEverywhereAndRefusesPasswords) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(unsupportedEncryption()), 1);
    EXPECT_EQ(korvel.Encrypted(), 2);
    for (int item = -1; item <= 12; ++item)
        EXPECT_EQ(korvel.SecurityInfo(item), 9) << item;
    EXPECT_EQ(korvel.SetPassword(""), 4);
    EXPECT_EQ(korvel.SetPassword("u"), 4);
    EXPECT_EQ(korvel.PageWidth(), 100);
}
