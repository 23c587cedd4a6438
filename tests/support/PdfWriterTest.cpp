// The test writer's own invariants, which the tests reading its files take on trust: offsets,
// startxref, and the keys and entries of its encryption. What its files hold is checked by the
// engine's tests that read them.
#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <string_view>

#include "document/uPDFDocument.h"
#include "file/uPDFStructure.h"
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

std::string fromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        unsigned value = 0;
        std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        out += char(value);
    }
    return out;
}

// The number after the first `key` at or after `from`, or -1.
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

std::string at(const std::string& file, std::int64_t offset, std::size_t n) {
    return file.substr(std::size_t(offset), n);
}

PdfWriter threeObjects() {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    w.SetStream(5, "", "q Q");
    return w;
}

// Every object the writer placed starts at its offset, and the last startxref (less the delta
// asked for) names the section the writer says it wrote.
void expectOffsetsHold(const PdfWriter& w, const std::string& file) {
    for (const auto& [num, offset] : w.Offsets())
        EXPECT_EQ(at(file, offset, std::to_string(num).size() + 6), std::to_string(num) + " 0 obj");
    EXPECT_EQ(numberAfter(file, "startxref", file.rfind("startxref")),
              w.XRefOffset() + w.StartXRefDelta);
    EXPECT_EQ(file.substr(file.size() - 6), "%%EOF\n");
}

} // namespace

TEST(PdfWriter, OffsetsPointAtTheObjectsAndStartxrefAtTheSectionInEveryForm) {
    for (const char* entryEnd : {"\r\n", "\n"}) {
        PdfWriter table = threeObjects();
        table.EntryEnd = entryEnd;
        table.StartXRefDelta = entryEnd[1] ? 0 : -5; // shifts only the written number
        const std::string file = table.Finish();
        expectOffsetsHold(table, file);
        EXPECT_EQ(table.Offsets().size(), 3u);
        const std::string head = "xref\n0 3\n0000000000 65535 f" + std::string(entryEnd);
        EXPECT_EQ(at(file, table.XRefOffset(), head.size()), head);
    }

    PdfWriter stream = threeObjects();
    stream.Form = XRefForm::Stream;
    stream.XRefStreamPredictor = 12;
    stream.Compress(2, 7); // 1, 5 and the container 7 in the file; the section is 8
    std::string file = stream.Finish();
    expectOffsetsHold(stream, file);
    EXPECT_EQ(stream.Offsets().count(2), 0u);
    EXPECT_EQ(at(file, stream.XRefOffset(), 8), "8 0 obj\n");
    // No other test writes predicted rows: the engine's reader, tested on rows made by hand,
    // must find the objects where the writer put them.
    korvel::TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    ASSERT_TRUE(doc.FindIndirect(2, 0) && doc.FindIndirect(5, 0));
    EXPECT_TRUE(doc.FindIndirect(2, 0)->Compressed);
    EXPECT_EQ(doc.FindIndirect(5, 0)->Offset, stream.Offsets().at(5));

    PdfWriter hybrid = threeObjects();
    hybrid.Form = XRefForm::Hybrid;
    hybrid.Compress(2, 7);
    file = hybrid.Finish();
    expectOffsetsHold(hybrid, file);
    EXPECT_EQ(at(file, hybrid.XRefOffset(), 5), "xref\n");
    EXPECT_EQ(at(file, numberAfter(file, "/XRefStm"), 8), "8 0 obj\n");
    EXPECT_NE(file.find("\n7 2\n", std::size_t(hybrid.XRefOffset())), std::string::npos); // 7, 8

    // Updates keep the base whole and point back at its section; new numbers lie above its Size,
    // freed ones get a free entry.
    for (const XRefForm form : {XRefForm::Table, XRefForm::Stream}) {
        PdfWriter base = threeObjects();
        const std::string original = base.Finish();
        PdfWriter update;
        update.Form = form;
        update.Set(2, "<< /Type /Pages /Kids [] /Count 0 /Updated true >>");
        if (form == XRefForm::Table)
            update.FreedObjects = {5};
        file = update.FinishUpdate(original);
        ASSERT_EQ(file.compare(0, original.size(), original), 0);
        expectOffsetsHold(update, file);
        EXPECT_EQ(update.Offsets().at(2), std::int64_t(original.size()));
        EXPECT_EQ(at(file, update.XRefOffset(), 8),
                  form == XRefForm::Table ? "xref\n2 1" : "6 0 obj\n");
        EXPECT_EQ(numberAfter(file, "/Prev", std::size_t(update.XRefOffset())), base.XRefOffset());
        if (form == XRefForm::Table) {
            EXPECT_NE(file.find("5 1\n0000000000 00001 f"), std::string::npos);
        }
    }
}

// The file keys below were confirmed by qpdf on the written files.
TEST(PdfWriter, KeysAndEntriesMatchTheValuesQpdfConfirmed) {
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

    EncryptionParams r3; // V 2, R 3, 128 bits
    r3.UserPassword = "user";
    r3.OwnerPassword = "owner";
    w.Encrypt(r3);
    EXPECT_EQ(w.FileKey(), fromHex("1deeb701c60f8c372c918bfeda5b915f"));
    std::string u = korvel::MD5(kPad + r3.ID0);
    for (int i = 0; i < 20; ++i) {
        std::string key = w.FileKey();
        for (char& c : key)
            c = char(c ^ i);
        u = korvel::RC4(key, u);
    }
    ASSERT_EQ(w.UserEntry().size(), 32u);
    EXPECT_EQ(w.UserEntry().substr(0, 16), u);
}

TEST(PdfWriter, EncryptedStringsHoldTheUnescapedTextUnderTheObjectKey) {
    PdfWriter w;
    w.Set(3, "<< /Title (a\\(b\\)\\101) /Id <414243> >>");
    EncryptionParams p;
    p.Revision = 2;
    p.Version = 1;
    p.KeyBits = 40;
    w.Encrypt(p);
    const std::string file = w.Finish();
    const std::string key =
        korvel::MD5(w.FileKey() + std::string("\x03\x00\x00\x00\x00", 5)).substr(0, 10);
    EXPECT_EQ(w.ObjectKey(3, 0), key);
    const std::size_t title = file.find("/Title <", std::size_t(w.Offsets().at(3))) + 8;
    EXPECT_EQ(korvel::RC4(key, fromHex(file.substr(title, file.find('>', title) - title))),
              "a(b)A");
    const std::size_t id = file.find("/Id <", std::size_t(w.Offsets().at(3))) + 5;
    EXPECT_EQ(korvel::RC4(key, fromHex(file.substr(id, 6))), "ABC");
}
