#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "file/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "security/uMD5.h"
#include "security/uPDFSecurity.h"
#include "security/uRC4.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::EncryptionParams;
using tolvane_test::MakeSimplePdf;
using tolvane_test::PdfWriter;
using tolvane_test::SimpleDocOptions;

namespace {

const std::string kContent = "BT /F1 12 Tf 72 700 Td (Hello, world) Tj ET";

EncryptionParams fortyBit(std::string user = "", std::string owner = "owner") {
    EncryptionParams p;
    p.Revision = 2;
    p.Version = 1;
    p.KeyBits = 40;
    p.UserPassword = std::move(user);
    p.OwnerPassword = std::move(owner);
    return p;
}

EncryptionParams bits128(std::string user = "", std::string owner = "owner") {
    EncryptionParams p; // V 2, R 3, Length 128
    p.UserPassword = std::move(user);
    p.OwnerPassword = std::move(owner);
    return p;
}

std::string simpleEncrypted(const EncryptionParams& params, bool objectStreams = false) {
    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption = params;
    options.UseObjectStreams = objectStreams;
    return MakeSimplePdf({kContent}, options);
}

std::unique_ptr<TPDFDocument> load(const std::string& bytes) {
    auto doc = std::make_unique<TPDFDocument>();
    EXPECT_TRUE(doc->LoadFromBytes(bytes));
    return doc;
}

TPDFObject* object(TPDFDocument& doc, int num) {
    TPDFIndObj* slot = doc.FindIndirect(num, 0);
    return slot ? doc.ObjectOf(slot) : nullptr;
}

// Decoded data of stream object `num`, or "<none>".
std::string streamData(TPDFDocument& doc, int num) {
    const TPDFStream* stream = AsStream(object(doc, num));
    return stream ? stream->DecodedData() : "<none>";
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TPDFDictionary* encryptDict(TPDFDocument& doc) {
    return AsDictionary(doc.Trailer()->Get("Encrypt"));
}

std::string entryOf(TPDFDocument& doc, const char* key) {
    const auto* s = Cast<TPDFString>(encryptDict(doc)->Get(key, false));
    return s ? s->Value : std::string();
}

// A one-page file whose Encrypt dictionary and trailer entries are written by hand (its
// objects are not encrypted; only the password checks are of interest).
std::string withHandMadeEncrypt(const std::string& encryptBody, const std::string& trailerExtra) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    w.Set(9, encryptBody);
    w.TrailerExtra = "/Encrypt 9 0 R " + trailerExtra;
    return w.Finish();
}

// O and U (as hex) that the writer computes for these parameters.
struct Entries {
    std::string O, U;
};
Entries entriesFor(const EncryptionParams& params) {
    auto doc = load(simpleEncrypted(params));
    return {hexOf(entryOf(*doc, "O")), hexOf(entryOf(*doc, "U"))};
}

} // namespace

// --- Recognising the handler -----------------------------------------------------------------

TEST(Security, FileWithoutEncryptIsKindZeroAndOnlyTheEmptyPasswordPasses) {
    auto doc = load(MakeSimplePdf({kContent}));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_EQ(s.EncryptionKind(), 0);
    EXPECT_TRUE(s.CheckUserPassword(""));
    EXPECT_TRUE(s.CheckOwnerPassword(""));
    EXPECT_FALSE(s.CheckUserPassword("x"));
    EXPECT_FALSE(s.CheckOwnerPassword("x"));
    EXPECT_EQ(s.KeyLength(), 0);
}

TEST(Security, FortyBitFileIsKindOneWithKeyLength40) {
    auto doc = load(simpleEncrypted(fortyBit()));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_EQ(s.EncryptionKind(), 1);
    EXPECT_EQ(s.KeyLength(), 40);
    EXPECT_EQ(s.Version(), 1);
    EXPECT_EQ(s.Revision(), 2);
    EXPECT_EQ(s.Permissions(), -4);
}

TEST(Security, Version2WithoutLengthReportsKeyLength0AndIsUsedAs128Bits) {
    EncryptionParams p = bits128("user");
    p.WriteLength = false;
    auto doc = load(simpleEncrypted(p));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_EQ(s.EncryptionKind(), 1);
    EXPECT_EQ(s.KeyLength(), 0);
    EXPECT_TRUE(s.CheckUserPassword("user"));
    s.ApplyPassword("user");
    EXPECT_EQ(s.FileKey().size(), 16u);
}

TEST(Security, StandardFilterWithVersion4IsKindTwoAndNothingPasses) {
    auto doc = load(withHandMadeEncrypt(
        "<< /Filter /Standard /V 4 /R 4 /Length 128 /O <00> /U <00> /P -4 >>", "/ID [<00> <00>]"));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_EQ(s.EncryptionKind(), 2);
    EXPECT_EQ(s.KeyLength(), 0);
    EXPECT_EQ(s.Version(), 0);
    EXPECT_FALSE(s.CheckUserPassword(""));
    EXPECT_FALSE(s.CheckOwnerPassword(""));
    EXPECT_FALSE(s.PasswordApplied());
}

TEST(Security, OtherFiltersAndRevisionsAreKindTwo) {
    for (const char* body :
         {"<< /Filter /Adobe.PubSec /V 1 /R 2 /P -4 >>", "<< /Filter /Standard /V 1 /R 5 /P -4 >>",
          "<< /Filter (Standard) /V 1 /R 2 /P -4 >>", "42"}) {
        auto doc = load(withHandMadeEncrypt(body, ""));
        EXPECT_EQ(doc->Security().EncryptionKind(), 2) << body;
    }
}

TEST(Security, DirectEncryptDictionaryIsReadLikeAReferencedOne) {
    Entries e = entriesFor(fortyBit());
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    w.TrailerExtra = "/Encrypt << /Filter /Standard /V 1 /R 2 /O <" + e.O + "> /U <" + e.U +
                     "> /P -4 >> /ID [<" + hexOf("0123456789abcdef") + "> <00>]";
    auto doc = load(w.Finish());
    EXPECT_EQ(doc->Security().EncryptionKind(), 1);
    EXPECT_TRUE(doc->Security().CheckUserPassword(""));
}

// --- Passwords ------------------------------------------------------------------------------

TEST(Security, FortyBitFileWithoutUserPasswordGetsItsKeyWhenLoaded) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog >>");
    w.Encrypt(fortyBit());
    auto doc = load(w.Finish());
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_TRUE(s.PasswordApplied());
    EXPECT_EQ(s.AppliedPassword(), "");
    EXPECT_EQ(s.FileKey(), w.FileKey());
    EXPECT_EQ(s.FileKey().size(), 5u);
}

TEST(Security, FortyBitChecksTellUserFromOwnerPassword) {
    auto doc = load(simpleEncrypted(fortyBit("user", "owner")));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_FALSE(s.PasswordApplied());
    EXPECT_TRUE(s.CheckUserPassword("user"));
    EXPECT_FALSE(s.CheckOwnerPassword("user"));
    EXPECT_FALSE(s.CheckUserPassword("owner"));
    EXPECT_TRUE(s.CheckOwnerPassword("owner"));
    EXPECT_FALSE(s.CheckUserPassword(""));
    EXPECT_FALSE(s.CheckOwnerPassword("wrong"));
}

TEST(Security, OneHundredTwentyEightBitChecksTellUserFromOwnerPassword) {
    auto doc = load(simpleEncrypted(bits128("user", "owner")));
    TPDFSecurityHandler& s = doc->Security();
    EXPECT_EQ(s.KeyLength(), 128);
    EXPECT_FALSE(s.PasswordApplied());
    EXPECT_TRUE(s.CheckUserPassword("user"));
    EXPECT_FALSE(s.CheckOwnerPassword("user"));
    EXPECT_FALSE(s.CheckUserPassword("owner"));
    EXPECT_TRUE(s.CheckOwnerPassword("owner"));
    EXPECT_FALSE(s.CheckUserPassword(""));
}

TEST(Security, PasswordThatIsBothPassesBothChecks) {
    for (const EncryptionParams& p : {fortyBit("same", "same"), bits128("same", "same")}) {
        auto doc = load(simpleEncrypted(p));
        EXPECT_TRUE(doc->Security().CheckUserPassword("same")) << p.Revision;
        EXPECT_TRUE(doc->Security().CheckOwnerPassword("same")) << p.Revision;
    }
}

TEST(Security, OwnerPasswordGivesTheSameFileKeyAsTheUserPassword) {
    for (const EncryptionParams& p : {fortyBit("user", "owner"), bits128("user", "owner")}) {
        PdfWriter w;
        w.RootObj = 1;
        w.Set(1, "<< /Type /Catalog >>");
        w.Encrypt(p);
        auto doc = load(w.Finish());
        TPDFSecurityHandler& s = doc->Security();
        s.ApplyPassword("owner");
        EXPECT_TRUE(s.PasswordApplied());
        EXPECT_EQ(s.AppliedPassword(), "owner");
        EXPECT_EQ(s.FileKey(), w.FileKey()) << p.Revision;
        s.ApplyPassword("user");
        EXPECT_EQ(s.AppliedPassword(), "user");
        EXPECT_EQ(s.FileKey(), w.FileKey()) << p.Revision;
    }
}

TEST(Security, FailingApplyClearsPasswordAppliedButKeepsTheKey) {
    auto doc = load(simpleEncrypted(bits128("user")));
    TPDFSecurityHandler& s = doc->Security();
    s.ApplyPassword("user");
    const std::string key = s.FileKey();
    s.ApplyPassword("wrong");
    EXPECT_FALSE(s.PasswordApplied());
    EXPECT_EQ(s.FileKey(), key);
}

TEST(Security, LongPasswordsAreCutTo32Bytes) {
    const std::string user(40, 'u');
    auto doc = load(simpleEncrypted(bits128(user, "owner")));
    EXPECT_TRUE(doc->Security().CheckUserPassword(user.substr(0, 32) + "anything"));
    EXPECT_FALSE(doc->Security().CheckUserPassword(user.substr(0, 31)));
}

TEST(Security, UnsignedPermissionsReadAsTheSameBits) {
    Entries e = entriesFor(fortyBit()); // keys made with P -4
    const std::string id = "/ID [<" + hexOf("0123456789abcdef") + "> <00>]";
    auto doc = load(withHandMadeEncrypt(
        "<< /Filter /Standard /V 1 /R 2 /O <" + e.O + "> /U <" + e.U + "> /P 4294967292 >>", id));
    EXPECT_EQ(doc->Security().Permissions(), -4);
    EXPECT_TRUE(doc->Security().CheckUserPassword(""));
}

TEST(Security, UnsignedPermissionsAreFoundPastStringsAndNestedDictionaries) {
    auto doc = load(withHandMadeEncrypt("<< /Filter /Standard /V 1 /R 2 /O (x/P 7\\) /P 9) "
                                        "/Sub << /P 5 >> /U <2F50> /P 4294967292 >>",
                                        ""));
    EXPECT_EQ(doc->Security().Permissions(), -4);
    auto plain = load(withHandMadeEncrypt(
        "<< /Filter /Standard /V 1 /R 2 /O (/P 4294967292) /U <00> /P 0 >>", ""));
    EXPECT_EQ(plain->Security().Permissions(), 0);
}

TEST(Security, PermissionsZeroStandForFFC0InFortyBitMode) {
    EncryptionParams p = fortyBit();
    p.Permissions = 0xFFC0;
    Entries e = entriesFor(p);
    const std::string id = "/ID [<" + hexOf(p.ID0) + "> <00>]";
    auto doc = load(withHandMadeEncrypt(
        "<< /Filter /Standard /V 1 /R 2 /O <" + e.O + "> /U <" + e.U + "> /P 0 >>", id));
    EXPECT_EQ(doc->Security().Permissions(), 0);
    EXPECT_TRUE(doc->Security().CheckUserPassword(""));
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
}

TEST(Security, PermissionsZeroStandForF0C0InRevision3Mode) {
    EncryptionParams p = bits128();
    p.Permissions = 0xF0C0;
    Entries e = entriesFor(p);
    const std::string id = "/ID [<" + hexOf(p.ID0) + "> <00>]";
    auto doc = load(withHandMadeEncrypt("<< /Filter /Standard /V 2 /R 3 /Length 128 /O <" + e.O +
                                            "> /U <" + e.U + "> /P 0 >>",
                                        id));
    EXPECT_TRUE(doc->Security().CheckUserPassword(""));
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
}

TEST(Security, FortyBitKeyOfRevision3IsComputedTheRevision2Way) {
    EncryptionParams p = fortyBit("user");
    p.Version = 2; // written as V 2 R 2 Length 40, keys of revision 2
    Entries e = entriesFor(p);
    const std::string id = "/ID [<" + hexOf(p.ID0) + "> <00>]";
    auto doc = load(withHandMadeEncrypt("<< /Filter /Standard /V 2 /R 3 /Length 40 /O <" + e.O +
                                            "> /U <" + e.U + "> /P -4 >>",
                                        id));
    EXPECT_EQ(doc->Security().KeyLength(), 40);
    EXPECT_TRUE(doc->Security().CheckUserPassword("user"));
}

TEST(Security, TrailerWithoutIdUsesEmptyId0AndGainsNoId) {
    EncryptionParams p = bits128("user");
    p.ID0 = "";
    Entries e = entriesFor(p);
    auto doc = load(withHandMadeEncrypt("<< /Filter /Standard /V 2 /R 3 /Length 128 /O <" + e.O +
                                            "> /U <" + e.U + "> /P -4 >>",
                                        ""));
    EXPECT_TRUE(doc->Security().CheckUserPassword("user"));
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
    EXPECT_EQ(doc->Trailer()->Get("ID"), nullptr);
}

TEST(Security, OnlyTheFirst16BytesOfU128AreCompared) {
    EncryptionParams p = bits128("user");
    Entries e = entriesFor(p);
    const std::string id = "/ID [<" + hexOf(p.ID0) + "> <00>]";
    const std::string changedTail = e.U.substr(0, 32) + std::string(32, 'E');
    auto doc = load(withHandMadeEncrypt("<< /Filter /Standard /V 2 /R 3 /Length 128 /O <" + e.O +
                                            "> /U <" + changedTail + "> /P -4 >>",
                                        id));
    EXPECT_TRUE(doc->Security().CheckUserPassword("user"));
}

TEST(Security, EncryptEntriesAreReadAsStoredEvenWhenTheWalkReachesThem) {
    // A page that references the Encrypt dictionary must not get it decrypted.
    EncryptionParams p = bits128();
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /Odd 5 0 R >>");
    w.Set(4, "(filler)");
    w.Encrypt(p); // the Encrypt dictionary becomes object 5
    auto doc = load(w.Finish());
    const TPDFIndRef* ref = AsRef(doc->Trailer()->Get("Encrypt", false));
    ASSERT_NE(ref, nullptr);
    ASSERT_EQ(ref->RefObjNum(), 5);
    const std::string before = entryOf(*doc, "O");
    doc->Security().DecryptGraph(3, 0);
    EXPECT_EQ(entryOf(*doc, "O"), before);
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
}

// --- Keys and decryption --------------------------------------------------------------------

TEST(Security, ObjectKeyOfObject7IsFirst10BytesOfMd5OfKeyAndNumbers) {
    auto doc = load(simpleEncrypted(fortyBit()));
    TPDFSecurityHandler& s = doc->Security();
    ASSERT_EQ(s.FileKey().size(), 5u);
    const std::string expected =
        MD5(s.FileKey() + std::string("\x07\x00\x00\x00\x00", 5)).substr(0, 10);
    EXPECT_EQ(s.ObjectKey(7, 0), expected);
}

TEST(Security, ObjectKeyTakesThreeNumberBytesAndTwoGenerationBytesAtMost16) {
    auto doc = load(simpleEncrypted(bits128()));
    TPDFSecurityHandler& s = doc->Security();
    ASSERT_EQ(s.FileKey().size(), 16u);
    const std::string expected = MD5(s.FileKey() + std::string("\x03\x02\x01\x05\x04", 5));
    EXPECT_EQ(s.ObjectKey(0x7F010203, 0x70405), expected);
}

TEST(Security, DecryptValueReachesStringsInsideStreamsArraysAndDictionaries) {
    TPDFStructure store;
    TPDFDocument doc;
    TPDFSecurityHandler& s = doc.Security();
    const std::string key = "k3y";
    TPDFDictionary* dict = store.CreateDictionary();
    TPDFArray* arr = store.CreateArray();
    arr->Add(store.CreateString(RC4(key, "in array")));
    arr->Add(store.CreateRef(4, 0));
    dict->Put("A", arr);
    TPDFStream* stream = store.CreateStream(RC4(key, "stream data"));
    stream->Dictionary()->Put("S", store.CreateString(RC4(key, "in stream dict")));
    dict->Put("B", stream);
    s.DecryptValue(key, dict);
    EXPECT_EQ(Cast<TPDFString>(arr->Item(0))->Value, "in array");
    EXPECT_EQ(AsRef(arr->Item(1))->RefObjNum(), 4);
    EXPECT_EQ(stream->RawData(), "stream data");
    EXPECT_EQ(Cast<TPDFString>(stream->Dictionary()->Get("S"))->Value, "in stream dict");
}

TEST(Security, DecryptValueOverVeryDeepNestingDoesNotOverflowTheStack) {
    TPDFStructure store;
    TPDFDocument doc;
    TPDFSecurityHandler& s = doc.Security();
    TPDFArray* top = store.CreateArray();
    TPDFArray* current = top;
    for (int i = 0; i < 200000; ++i) {
        TPDFArray* next = store.CreateArray();
        current->Add(next);
        current = next;
    }
    TPDFString* bottom = store.CreateString(RC4("key", "deep"));
    current->Add(bottom);
    s.DecryptValue("key", top);
    EXPECT_EQ(bottom->Value, "deep");
}

TEST(Security, FortyBitFileWithoutUserPasswordReadsItsContentAfterTheWalk) {
    auto doc = load(simpleEncrypted(fortyBit()));
    EXPECT_NE(AsStream(object(*doc, 4))->RawData(), kContent);
    doc->Security().DecryptGraph(3, 0); // the page
    EXPECT_EQ(streamData(*doc, 4), kContent);
    EXPECT_TRUE(doc->FindIndirect(4, 0)->Decrypted);
}

TEST(Security, OneHundredTwentyEightBitContentReadsTheSameWithUserOrOwnerPassword) {
    for (const char* password : {"user", "owner"}) {
        auto doc = load(simpleEncrypted(bits128("user", "owner")));
        doc->Security().ApplyPassword(password);
        doc->Security().DecryptGraph(3, 0);
        EXPECT_EQ(streamData(*doc, 4), kContent) << password;
    }
}

TEST(Security, WalkFromThePageReachesTheWholeTreeThroughParent) {
    SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption = bits128();
    auto doc = load(MakeSimplePdf({"(one) Tj", "(two) Tj", "(three) Tj"}, options));
    doc->Security().DecryptGraph(5, 0); // page 2
    EXPECT_EQ(streamData(*doc, 4), "(one) Tj");
    EXPECT_EQ(streamData(*doc, 6), "(two) Tj");
    EXPECT_EQ(streamData(*doc, 8), "(three) Tj");
}

TEST(Security, DecryptObjectBeforeAnyPasswordDoesNothing) {
    auto doc = load(simpleEncrypted(bits128("user")));
    ASSERT_FALSE(doc->Security().PasswordApplied());
    TPDFIndObj* slot = doc->FindIndirect(4, 0);
    const std::string raw = AsStream(doc->ObjectOf(slot))->RawData();
    doc->Security().DecryptObject(slot);
    doc->Security().DecryptGraph(3, 0);
    EXPECT_FALSE(slot->Decrypted);
    EXPECT_FALSE(slot->Walked);
    EXPECT_EQ(AsStream(slot->Object)->RawData(), raw);
    // Once the password is known the objects decrypt normally.
    doc->Security().ApplyPassword("user");
    doc->Security().DecryptGraph(3, 0);
    EXPECT_EQ(streamData(*doc, 4), kContent);
}

TEST(Security, DecryptingTwiceDecryptsNothingTheSecondTime) {
    auto doc = load(simpleEncrypted(fortyBit()));
    TPDFSecurityHandler& s = doc->Security();
    s.DecryptGraph(3, 0);
    const TPDFStream* content = AsStream(object(*doc, 4));
    const std::uint64_t version = content->DataVersion();
    s.DecryptGraph(3, 0);
    s.DecryptObject(doc->FindIndirect(4, 0));
    s.DecryptGraph(4, 0);
    EXPECT_EQ(content->DataVersion(), version);
    EXPECT_EQ(content->DecodedData(), kContent);
}

TEST(Security, WalkPassesThroughObjectsReadOutOfObjectStreams) {
    // Catalog, page tree and page lie in an object stream; the content stream does not.
    auto doc = load(simpleEncrypted(fortyBit(), true));
    if (doc->ReadCompressedObjects()) {
        ASSERT_TRUE(doc->Reload(""));
    }
    TPDFIndObj* page = doc->FindIndirect(3, 0);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->Compressed);
    ASSERT_NE(AsDictionary(doc->ObjectOf(page)), nullptr);
    EXPECT_TRUE(page->Decrypted);
    doc->Security().DecryptGraph(3, 0);
    EXPECT_EQ(streamData(*doc, 4), kContent);
}

TEST(Security, WalkEntersStreamDictionariesForTheResourcesOfForms) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R "
             "/Resources << /XObject << /Fm1 5 0 R >> >> >>");
    w.SetStream(4, "", "/Fm1 Do");
    w.SetStream(5, " /Type /XObject /Subtype /Form /Resources << /Font << /F1 6 0 R >> >>",
                "(inner) Tj");
    w.Set(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (secret) >>");
    w.Encrypt(bits128());
    auto doc = load(w.Finish());
    doc->Security().DecryptGraph(3, 0);
    EXPECT_EQ(streamData(*doc, 5), "(inner) Tj");
    const TPDFDictionary* font = AsDictionary(object(*doc, 6));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->GetText("Note"), "secret");
}

TEST(Security, LongReferenceChainsAreWalkedWithoutRecursion) {
    constexpr int kChain = 30000;
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Next 2 0 R >>");
    for (int i = 2; i < kChain; ++i)
        w.Set(i, "<< /S (link) /Next " + std::to_string(i + 1) + " 0 R >>");
    w.Set(kChain, "<< /S (last) /Next 1 0 R >>"); // and a cycle back to the start
    w.Encrypt(fortyBit());
    auto doc = load(w.Finish());
    doc->Security().DecryptGraph(1, 0);
    const TPDFDictionary* last = AsDictionary(object(*doc, kChain));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->GetText("S"), "last");
    EXPECT_EQ(AsDictionary(object(*doc, kChain / 2))->GetText("S"), "link");
}

TEST(Security, SharedObjectsAreDecryptedOnce) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /A 2 0 R /B 2 0 R /C [2 0 R 2 0 R] >>");
    w.Set(2, "(shared)");
    w.Encrypt(bits128());
    auto doc = load(w.Finish());
    doc->Security().DecryptGraph(1, 0);
    EXPECT_EQ(Cast<TPDFString>(object(*doc, 2))->Value, "shared");
}
