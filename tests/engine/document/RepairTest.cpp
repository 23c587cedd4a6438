// Lenient reading: damaged files reconstructed by scanning, and stream lengths mended.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "file/uPDFStructure.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::MakeSimplePdf;
using tolvane_test::SimpleDocOptions;

namespace {

const std::vector<std::string> kPages = {"BT /F1 12 Tf 72 700 Td (First page) Tj ET",
                                         "BT /F1 12 Tf 72 700 Td (Second page) Tj ET"};

struct TRead {
    bool Loaded = false;
    bool Reconstructed = false;
    int Pages = 0;
    std::string Text; // every page, option 0
};

TRead read(const std::string& file, bool lenient, const std::string& password = "") {
    TKorvel korvel;
    korvel.SetLenientReading(lenient);
    TRead r;
    r.Loaded = korvel.LoadFromBytes(file) == 1;
    if (!r.Loaded)
        return r;
    if (!password.empty())
        korvel.SetPassword(password);
    r.Reconstructed = korvel.Reconstructed() == 1;
    r.Pages = korvel.PageCount();
    for (int p = 1; p <= r.Pages; ++p) {
        korvel.SelectPage(p);
        r.Text += korvel.GetPageText(0);
    }
    return r;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.rfind(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(Repair, DamagedFilesReadAsTheWholeFileWithRepairOnly) {
    SimpleDocOptions objectStreams;
    objectStreams.UseObjectStreams = true;
    const std::string plain = MakeSimplePdf(kPages);
    const std::string compressed = MakeSimplePdf(kPages, objectStreams);
    const std::string expected = read(plain, false).Text;
    ASSERT_NE(expected.find("Second page"), std::string::npos);
    const struct {
        const char* name;
        std::string file;
        bool exactFails; // exact reading does not give the text (else it finds the table)
    } rows[] = {
        {"table cut off", plain.substr(0, plain.find("xref")), true},
        {"no startxref", replaced(plain, "startxref", "startxrex"), false},
        {"every offset shifted", "junk before the header\n" + plain, true},
        {"the cross-reference stream and its root cut off",
         compressed.substr(0, compressed.rfind("/Type /XRef")), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TRead exact = read(row.file, false);
        if (row.exactFails) {
            EXPECT_FALSE(exact.Loaded && exact.Text == expected);
        }
        const TRead lenient = read(row.file, true);
        EXPECT_TRUE(lenient.Loaded);
        EXPECT_EQ(lenient.Reconstructed, row.exactFails);
        EXPECT_EQ(lenient.Pages, 2);
        EXPECT_EQ(lenient.Text, expected);
    }
    // A sound file is not reconstructed, leniently or not.
    EXPECT_FALSE(read(plain, true).Reconstructed);
    EXPECT_EQ(read(compressed, true).Text, expected);
}

TEST(Repair, TheLastDefinitionOfANumberWinsAndTheCatalogIsFoundWithoutTrailer) {
    const std::string file =
        "%PDF-1.4\n"
        "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >> endobj\n"
        "4 0 obj << /Length 27 >>\nstream\nBT 10 10 Td (older) Tj ET\nendstream endobj\n"
        "4 0 obj << /Length 27 >>\nstream\nBT 10 10 Td (newer) Tj ET\nendstream endobj\n"
        "%%EOF\n";
    EXPECT_FALSE(read(file, false).Loaded);
    const TRead r = read(file, true);
    ASSERT_TRUE(r.Loaded);
    EXPECT_EQ(r.Pages, 1);
    EXPECT_NE(r.Text.find("newer"), std::string::npos);
    EXPECT_EQ(r.Text.find("older"), std::string::npos);
}

TEST(Repair, AnEncryptedFileIsReconstructedAndDecrypted) {
    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption.Version = 4;
    options.Encryption.Revision = 4;
    options.Encryption.UserPassword = "user";
    const std::string file = MakeSimplePdf(kPages, options);
    const std::string expected = read(MakeSimplePdf(kPages), false).Text;
    const std::string damaged = "junk before the header\n" + file;
    EXPECT_EQ(read(file, false, "user").Text, expected);
    const TRead r = read(damaged, true, "user");
    EXPECT_TRUE(r.Reconstructed);
    EXPECT_EQ(r.Text, expected);
}

TEST(Repair, StreamLengthsAreMendedAtEndstreamOnlyWhenLenient) {
    const struct {
        const char* name;
        const char* dict;
    } rows[] = {
        {"no Length", "<< >>"},
        {"Length not a number", "<< /Length /Big >>"},
        {"Length too short", "<< /Length 5 >>"},
        {"Length too long", "<< /Length 90 >>"},
        {"Length to a missing object", "<< /Length 99 0 R >>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tolvane_test::PdfWriter w;
        w.RootObj = 1;
        w.Set(1, "<< /Type /Catalog >>");
        w.Set(2, std::string(row.dict) + "\nstream\r\nBT (mended) Tj ET\r\nendstream");
        w.Set(3, "(next)");
        const std::string file = w.Finish();
        TPDFDocument lenient;
        lenient.SetLenient(true);
        ASSERT_TRUE(lenient.LoadFromBytes(file));
        const TPDFStream* stream = AsStream(lenient.ObjectOf(lenient.FindIndirect(2, 0)));
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->RawData(), "BT (mended) Tj ET");
        EXPECT_FALSE(lenient.Reconstructed());
        TPDFDocument exact;
        ASSERT_TRUE(exact.LoadFromBytes(file));
        const TPDFStream* exactStream = AsStream(exact.ObjectOf(exact.FindIndirect(2, 0)));
        EXPECT_TRUE(!exactStream || exactStream->RawData() != "BT (mended) Tj ET");
    }
}

TEST(Repair, HostileFilesAreScannedInLinearTime) {
    const auto start = std::chrono::steady_clock::now();
    // Keywords without objects, a million objects, and numbers beyond any table.
    std::string keywords = "%PDF-1.4\n";
    for (int i = 0; i < 400000; ++i)
        keywords += "obj 0 obj trailer ";
    EXPECT_FALSE(read(keywords, true).Loaded);
    std::string many = "%PDF-1.4\n";
    for (int i = 1; i <= 1000000; ++i)
        many += std::to_string(i) + " 0 obj\nnull\nendobj\n";
    many += "9999999999 0 obj\nnull\nendobj\n2147483647 0 obj << /Type /Catalog /Pages 1 0 R >> "
            "endobj\ntrailer << /Root 2147483647 0 R >>\n";
    const TRead r = read(many, true);
    EXPECT_TRUE(r.Loaded);
    EXPECT_EQ(r.Pages, 0);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
}

TEST(Repair, AMemberOfALaterObjectStreamWinsOverAnEarlierOne) {
    tolvane_test::PdfWriter base;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    base.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    base.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
    base.Compress(3, 10);
    const std::string first = base.Finish();
    tolvane_test::PdfWriter update;
    update.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] >>");
    update.Compress(3, 20);
    const std::string file = "%" + std::string(300, 'x') + "\n" + update.FinishUpdate(first);
    TKorvel korvel;
    korvel.SetLenientReading(true);
    ASSERT_EQ(korvel.LoadFromBytes(file), 1);
    EXPECT_EQ(korvel.Reconstructed(), 1);
    korvel.SelectPage(1);
    EXPECT_EQ(korvel.PageWidth(), 300);
}
