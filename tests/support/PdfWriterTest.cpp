#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include <zlib.h>

#include "security/uMD5.h"
#include "security/uRC4.h"
#include "support/PdfWriter.h"

using tolvane_test::EncryptionParams;
using tolvane_test::PdfWriter;
using tolvane_test::XRefForm;

namespace {

const std::string kPad("\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
                       "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
                       32);

std::string inflate(const std::string& data) {
    std::string out(data.size() * 20 + 1024, '\0');
    uLongf size = uLongf(out.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                         reinterpret_cast<const Bytef*>(data.data()), uLong(data.size())),
              Z_OK);
    out.resize(size);
    return out;
}

std::string fromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        unsigned value = 0;
        std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        out += char(value);
    }
    return out;
}

std::int64_t numberAfter(const std::string& text, const std::string& key, std::size_t from = 0) {
    std::size_t at = text.find(key, from);
    if (at == std::string::npos)
        return -1;
    at += key.size();
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    std::int64_t value = -1;
    std::from_chars(text.data() + at, text.data() + text.size(), value);
    return value;
}

std::int64_t startXRef(const std::string& file) {
    return numberAfter(file, "startxref");
}

// The raw data of the stream object that starts at `offset`.
std::string streamDataAt(const std::string& file, std::int64_t offset) {
    std::int64_t length = numberAfter(file, "/Length", std::size_t(offset));
    std::size_t start = file.find("stream\n", std::size_t(offset)) + 7;
    return file.substr(start, std::size_t(length));
}

PdfWriter threeObjects() {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    w.SetStream(5, "", "q Q");
    return w;
}

TEST(PdfWriter, TableOffsetsPointAtTheirObjects) {
    PdfWriter w = threeObjects();
    std::string file = w.Finish();
    ASSERT_EQ(w.Offsets().size(), 3u);
    for (const auto& [num, offset] : w.Offsets())
        EXPECT_EQ(file.substr(std::size_t(offset), std::to_string(num).size() + 6),
                  std::to_string(num) + " 0 obj");
    EXPECT_EQ(startXRef(file), w.XRefOffset());
    EXPECT_EQ(file.substr(std::size_t(w.XRefOffset()), 5), "xref\n");
    EXPECT_EQ(file.substr(file.size() - 6), "%%EOF\n");
}

TEST(PdfWriter, TableWritesRunsOfNumbersAsSubsections) {
    PdfWriter w = threeObjects();
    std::string file = w.Finish();
    std::string table = file.substr(std::size_t(w.XRefOffset()));
    EXPECT_EQ(table.substr(0, 29), "xref\n0 3\n0000000000 65535 f\r\n");
    std::string five = "5 1\n" + std::string(10 - std::to_string(w.Offsets().at(5)).size(), '0') +
                       std::to_string(w.Offsets().at(5)) + " 00000 n\r\ntrailer\n";
    EXPECT_NE(table.find(five), std::string::npos);
    EXPECT_NE(table.find("<< /Size 6 /Root 1 0 R >>"), std::string::npos);
}

TEST(PdfWriter, EntriesOf19BytesEndInOneLineFeed) {
    PdfWriter w = threeObjects();
    w.EntryEnd = "\n";
    std::string file = w.Finish();
    std::size_t first = std::size_t(w.XRefOffset()) + 9;
    EXPECT_EQ(file.substr(first, 19), "0000000000 65535 f\n");
    EXPECT_EQ(file.substr(first + 19 + 17, 4), "n\n00");
}

TEST(PdfWriter, StartXRefDeltaShiftsOnlyTheWrittenOffset) {
    PdfWriter w = threeObjects();
    w.StartXRefDelta = -5;
    std::string file = w.Finish();
    EXPECT_EQ(startXRef(file), w.XRefOffset() - 5);
    EXPECT_EQ(file.substr(std::size_t(w.XRefOffset()), 4), "xref");
}

TEST(PdfWriter, XRefStreamRowsDecodeThroughThePredictor) {
    PdfWriter w = threeObjects();
    w.Form = XRefForm::Stream;
    w.XRefStreamPredictor = 12;
    w.Compress(2, 7);
    std::string file = w.Finish();
    // 1, 5 and the container 7 in the file, 2 in the container, the stream itself is 8.
    const std::int64_t xref = w.XRefOffset();
    EXPECT_EQ(startXRef(file), xref);
    EXPECT_EQ(file.substr(std::size_t(xref), 8), "8 0 obj\n");
    std::string dict = file.substr(std::size_t(xref), file.find(">>\nstream", std::size_t(xref)));
    EXPECT_NE(dict.find("/Type /XRef /Size 9 /W [1 2 2] /Index [0 3 5 1 7 2]"), std::string::npos);
    EXPECT_NE(dict.find("/Predictor 12 /Columns 5"), std::string::npos);
    std::string rows = inflate(streamDataAt(file, xref));
    ASSERT_EQ(rows.size(), 6u * 6u);
    // Undo PNG "up" row by row.
    std::vector<std::string> decoded;
    std::string previous(5, '\0');
    for (std::size_t r = 0; r < 6; ++r) {
        ASSERT_EQ(rows[r * 6], 2);
        std::string row = rows.substr(r * 6 + 1, 5);
        for (std::size_t i = 0; i < 5; ++i)
            row[i] = char(row[i] + previous[i]);
        decoded.push_back(row);
        previous = row;
    }
    auto field = [](const std::string& row, std::size_t at) {
        return (int((unsigned char)row[at]) << 8) | int((unsigned char)row[at + 1]);
    };
    EXPECT_EQ(decoded[0][0], 0); // object 0: free
    EXPECT_EQ(decoded[1][0], 1); // object 1: in the file
    EXPECT_EQ(field(decoded[1], 1), w.Offsets().at(1));
    EXPECT_EQ(decoded[2][0], 2);        // object 2: compressed
    EXPECT_EQ(field(decoded[2], 1), 7); // ... in object stream 7
    EXPECT_EQ(field(decoded[2], 3), 0); // ... at index 0
    EXPECT_EQ(field(decoded[4], 1), w.Offsets().at(7));
    EXPECT_EQ(field(decoded[5], 1), xref); // the stream lists itself
}

TEST(PdfWriter, ObjectStreamHeaderPointsAtItsMembers) {
    PdfWriter w = threeObjects();
    w.Form = XRefForm::Stream;
    w.Compress(1, 9);
    w.Compress(2, 9);
    std::string file = w.Finish();
    const std::int64_t at = w.Offsets().at(9);
    EXPECT_EQ(numberAfter(file, "/N", std::size_t(at)), 2);
    const std::int64_t first = numberAfter(file, "/First", std::size_t(at));
    std::string data = inflate(streamDataAt(file, at));
    std::string header = data.substr(0, std::size_t(first));
    std::int64_t num1 = -1, off1 = -1, num2 = -1, off2 = -1;
    const char* p = header.data();
    const char* end = header.data() + header.size();
    for (std::int64_t* value : {&num1, &off1, &num2, &off2}) {
        while (p < end && *p == ' ')
            ++p;
        p = std::from_chars(p, end, *value).ptr;
    }
    EXPECT_EQ(num1, 1);
    EXPECT_EQ(num2, 2);
    EXPECT_EQ(data.substr(std::size_t(first + off1), 17), "<< /Type /Catalog");
    EXPECT_EQ(data.substr(std::size_t(first + off2), 15), "<< /Type /Pages");
    EXPECT_EQ(w.Offsets().count(1), 0u);
}

TEST(PdfWriter, HybridTrailerNamesAStreamOfTheCompressedObjects) {
    PdfWriter w = threeObjects();
    w.Form = XRefForm::Hybrid;
    w.Compress(2, 7);
    std::string file = w.Finish();
    EXPECT_EQ(file.substr(std::size_t(w.XRefOffset()), 4), "xref");
    const std::int64_t stm = numberAfter(file, "/XRefStm");
    EXPECT_EQ(file.substr(std::size_t(stm), 8), "8 0 obj\n");
    EXPECT_NE(file.find("/Index [2 1 8 1]", std::size_t(stm)), std::string::npos);
    // The table lists the objects in the file, the stream included, not the compressed one.
    std::string table = file.substr(std::size_t(w.XRefOffset()));
    EXPECT_EQ(table.substr(0, 9), "xref\n0 2\n");
    EXPECT_NE(table.find("\n7 2\n"), std::string::npos);
}

TEST(PdfWriter, UpdateAppendsASectionThatPointsBack) {
    PdfWriter base = threeObjects();
    std::string original = base.Finish();
    PdfWriter update;
    update.Set(2, "<< /Type /Pages /Kids [] /Count 0 /Updated true >>");
    update.FreedObjects = {5};
    std::string file = update.FinishUpdate(original);
    ASSERT_EQ(file.compare(0, original.size(), original), 0);
    EXPECT_EQ(update.Offsets().at(2), std::int64_t(original.size()));
    EXPECT_EQ(startXRef(file.substr(original.size())), update.XRefOffset());
    std::string section = file.substr(std::size_t(update.XRefOffset()));
    EXPECT_EQ(section.substr(0, 9), "xref\n2 1\n");
    EXPECT_NE(section.find("5 1\n0000000000 00001 f\r\n"), std::string::npos);
    EXPECT_NE(section.find("<< /Size 6 /Root 1 0 R /Prev " + std::to_string(base.XRefOffset())),
              std::string::npos);
}

TEST(PdfWriter, StreamUpdateTakesNumbersAboveTheBase) {
    PdfWriter base = threeObjects();
    std::string original = base.Finish();
    PdfWriter update;
    update.Form = XRefForm::Stream;
    update.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string file = update.FinishUpdate(original);
    // The base's Size is 6, so the new cross-reference stream is object 6.
    EXPECT_EQ(file.substr(std::size_t(update.XRefOffset()), 8), "6 0 obj\n");
    EXPECT_NE(file.find("/Index [1 1 6 1]", std::size_t(update.XRefOffset())), std::string::npos);
    EXPECT_EQ(numberAfter(file, "/Prev", std::size_t(update.XRefOffset())), base.XRefOffset());
}

// The file keys below were confirmed by an independent PDF tool on the written files.
TEST(PdfWriter, FortyBitKeyAndUserEntryMatchTheKnownValues) {
    PdfWriter w = threeObjects();
    EncryptionParams p;
    p.Revision = 2;
    p.Version = 1;
    p.KeyBits = 40;
    p.UserPassword = "user";
    p.OwnerPassword = "owner";
    w.Encrypt(p);
    EXPECT_EQ(w.FileKey(), fromHex("0aab823988"));
    EXPECT_EQ(w.UserEntry(), korvel::RC4(w.FileKey(), kPad));
    // The user password recovered from O with the owner key.
    std::string ownerKey = korvel::MD5((std::string("owner") + kPad).substr(0, 32)).substr(0, 5);
    EXPECT_EQ(korvel::RC4(ownerKey, w.OwnerEntry()), (std::string("user") + kPad).substr(0, 32));
}

TEST(PdfWriter, Revision3KeyAndUserEntryMatchTheKnownValues) {
    PdfWriter w = threeObjects();
    EncryptionParams p;
    p.UserPassword = "user";
    p.OwnerPassword = "owner";
    w.Encrypt(p);
    EXPECT_EQ(w.FileKey(), fromHex("1deeb701c60f8c372c918bfeda5b915f"));
    std::string u = korvel::MD5(kPad + p.ID0);
    for (int i = 0; i < 20; ++i) {
        std::string key = w.FileKey();
        for (char& c : key)
            c = char(c ^ i);
        u = korvel::RC4(key, u);
    }
    ASSERT_EQ(w.UserEntry().size(), 32u);
    EXPECT_EQ(w.UserEntry().substr(0, 16), u);
}

TEST(PdfWriter, EncryptedStringsDecryptUnderTheObjectKey) {
    PdfWriter w;
    w.Set(3, "<< /Title (a\\(b\\)\\101) /Id <414243> /Kids [(x)] >>");
    w.SetStream(4, "", "stream data");
    EncryptionParams p;
    p.Revision = 2;
    p.Version = 1;
    p.KeyBits = 40;
    w.Encrypt(p);
    std::string file = w.Finish();
    // Object key computed here: MD5 of file key, 3 bytes of number, 2 of generation.
    std::string key3 =
        korvel::MD5(w.FileKey() + std::string("\x03\x00\x00\x00\x00", 5)).substr(0, 10);
    EXPECT_EQ(w.ObjectKey(3, 0), key3);
    std::size_t at = std::size_t(w.Offsets().at(3));
    std::size_t title = file.find("/Title <", at) + 8;
    std::string hex = file.substr(title, file.find('>', title) - title);
    EXPECT_EQ(korvel::RC4(key3, fromHex(hex)), "a(b)A");
    std::size_t id = file.find("/Id <", at) + 5;
    EXPECT_EQ(korvel::RC4(key3, fromHex(file.substr(id, 6))), "ABC");
    std::string key4 =
        korvel::MD5(w.FileKey() + std::string("\x04\x00\x00\x00\x00", 5)).substr(0, 10);
    EXPECT_EQ(korvel::RC4(key4, streamDataAt(file, w.Offsets().at(4))), "stream data");
}

TEST(PdfWriter, EncryptDictionaryAndTrailerStayPlain) {
    PdfWriter w = threeObjects();
    EncryptionParams p;
    p.Permissions = -44;
    w.Encrypt(p);
    std::string file = w.Finish();
    // Objects 1, 2, 5; the Encrypt dictionary takes 6.
    std::size_t at = std::size_t(w.Offsets().at(6));
    EXPECT_EQ(file.substr(at, 51), "6 0 obj\n<< /Filter /Standard /V 2 /R 3 /Length 128 ");
    EXPECT_NE(file.find("/P -44 >>", at), std::string::npos);
    EXPECT_NE(file.find("/Encrypt 6 0 R /ID [<30313233343536373839616263646566> "
                        "<30313233343536373839616263646566>]"),
              std::string::npos);
}

TEST(PdfWriter, SimplePdfNumbersCatalogPagesThenPageContentPairs) {
    tolvane_test::SimpleDocOptions options;
    options.CompressContent = true;
    std::string file = tolvane_test::MakeSimplePdf({"BT ET", "q Q"}, options);
    EXPECT_NE(file.find("2 0 obj\n<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>"),
              std::string::npos);
    std::size_t content = file.find("6 0 obj\n");
    ASSERT_NE(content, std::string::npos);
    EXPECT_EQ(inflate(streamDataAt(file, std::int64_t(content))), "q Q");
}

} // namespace
