// The standard security handler: recognising it, password checks, keys, `P`, and decryption.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "document/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "security/uMD5.h"
#include "security/uPDFSecurity.h"
#include "security/uRC4.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::EncryptionParams;
using tolvane_test::MakeSimplePdf;
using tolvane_test::PdfWriter;

namespace {

const std::string kContent = "BT /F1 12 Tf 72 700 Td (Hello, world) Tj ET";

// 40 bits: V 1, R 2; 128 bits: V 2, R 3, Length 128.
EncryptionParams rc4(int bits, std::string user = "", std::string owner = "owner") {
    EncryptionParams p;
    if (bits == 40) {
        p.Revision = 2;
        p.Version = 1;
        p.KeyBits = 40;
    }
    p.UserPassword = std::move(user);
    p.OwnerPassword = std::move(owner);
    return p;
}

std::string encrypted(const EncryptionParams& params, bool objectStreams = false,
                      const std::vector<std::string>& pages = {kContent}) {
    tolvane_test::SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption = params;
    options.UseObjectStreams = objectStreams;
    return MakeSimplePdf(pages, options);
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
    for (unsigned char c : bytes)
        out += std::string{digits[c >> 4], digits[c & 15]};
    return out;
}

std::string entryOf(TPDFDocument& doc, const char* key) {
    const auto* s = Cast<TPDFString>(AsDictionary(doc.Trailer()->Get("Encrypt"))->Get(key, false));
    return s ? s->Value : std::string();
}

// The catalog as object 1 and, with a page, the page tree 2 holding it as object 3.
PdfWriter writer(const std::string& page = "") {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, page.empty() ? "<< /Type /Catalog >>" : "<< /Type /Catalog /Pages 2 0 R >>");
    if (!page.empty()) {
        w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        w.Set(3, page);
    }
    return w;
}

// A one-page file whose Encrypt object 9 and trailer entries are written by hand; its objects are
// not encrypted, only the checks are of interest.
std::string handMade(const std::string& encryptBody, const std::string& trailerExtra = "") {
    PdfWriter w = writer("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    w.Set(9, encryptBody);
    w.TrailerExtra = "/Encrypt 9 0 R " + trailerExtra;
    return w.Finish();
}

// The O and U entries the writer computes for `p`, and the trailer ID for its ID0 (none for an
// empty one).
std::string entriesFor(const EncryptionParams& p, std::string* trailer) {
    PdfWriter w;
    w.Encrypt(p);
    *trailer = p.ID0.empty() ? "" : "/ID [<" + hexOf(p.ID0) + "> <00>]";
    return "/O <" + hexOf(w.OwnerEntry()) + "> /U <" + hexOf(w.UserEntry()) + ">";
}

} // namespace

// --- Recognising the handler -----------------------------------------------------------------

TEST(Security, TheHandlerIsRecognisedByFilterVersionAndRevision) {
    std::string id;
    const std::string keys = entriesFor(rc4(40), &id);
    EncryptionParams noLength = rc4(128, "user");
    noLength.WriteLength = false;
    PdfWriter direct = writer();
    direct.TrailerExtra = "/Encrypt << /Filter /Standard /V 1 /R 2 " + keys + " /P -4 >> " + id;
    const struct {
        const char* name;
        std::string file;
        int kind, keyLength, version;
        bool emptyUserPasses;
    } rows[] = {
        {"not encrypted", MakeSimplePdf({kContent}), 0, 0, 0, true},
        {"40 bits", encrypted(rc4(40)), 1, 40, 1, true},
        // Used as 128 bits all the same (checked below).
        {"V 2 without Length", encrypted(noLength), 1, 0, 2, false},
        {"a direct Encrypt dictionary", direct.Finish(), 1, 40, 1, true},
        // Without crypt filters strings and streams are in clear (Identity).
        {"V 4 without crypt filters",
         handMade("<< /Filter /Standard /V 4 /R 4 /Length 128 /O <00> /U <00> /P -4 >>",
                  "/ID [<00> <00>]"),
         1, 128, 4, false},
        {"V 4 whose StmF names no filter",
         handMade("<< /Filter /Standard /V 4 /R 4 /StmF /Nowhere /O <00> /U <00> /P -4 >>",
                  "/ID [<00> <00>]"),
         2, 0, 0, false},
        {"another filter", handMade("<< /Filter /Adobe.PubSec /V 1 /R 2 /P -4 >>"), 2, 0, 0, false},
        {"R 5", handMade("<< /Filter /Standard /V 1 /R 5 /P -4 >>"), 2, 0, 0, false},
        {"a filter string", handMade("<< /Filter (Standard) /V 1 /R 2 /P -4 >>"), 2, 0, 0, false},
        {"no dictionary", handMade("42"), 2, 0, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto doc = load(row.file);
        TPDFSecurityHandler& s = doc->Security();
        EXPECT_EQ(s.EncryptionKind(), row.kind);
        EXPECT_EQ(s.KeyLength(), row.keyLength);
        EXPECT_EQ(s.Version(), row.version);
        EXPECT_EQ(s.CheckUserPassword(""), row.emptyUserPasses);
        EXPECT_EQ(s.CheckOwnerPassword(""), row.kind == 0);
        EXPECT_FALSE(s.CheckUserPassword("x"));
        EXPECT_FALSE(s.CheckOwnerPassword("x"));
        if (row.kind == 2) {
            EXPECT_FALSE(s.PasswordApplied());
        }
    }
    auto fortyBits = load(rows[1].file);
    EXPECT_EQ(fortyBits->Security().Revision(), 2);
    EXPECT_EQ(fortyBits->Security().Permissions(), -4);
    auto withoutLength = load(rows[2].file);
    withoutLength->Security().ApplyPassword("user");
    EXPECT_TRUE(withoutLength->Security().PasswordApplied());
    EXPECT_EQ(withoutLength->Security().FileKey().size(), 16u);
}

// --- Passwords ------------------------------------------------------------------------------

TEST(Security, ChecksTellTheUserFromTheOwnerPasswordAndOneThatIsBoth) {
    for (const int bits : {40, 128}) {
        SCOPED_TRACE(bits);
        auto doc = load(encrypted(rc4(bits, "user", "owner")));
        TPDFSecurityHandler& s = doc->Security();
        EXPECT_EQ(s.KeyLength(), bits);
        EXPECT_FALSE(s.PasswordApplied());
        for (const char* wrong : {"", "wrong"}) {
            EXPECT_FALSE(s.CheckUserPassword(wrong)) << wrong;
            EXPECT_FALSE(s.CheckOwnerPassword(wrong)) << wrong;
        }
        EXPECT_TRUE(s.CheckUserPassword("user"));
        EXPECT_FALSE(s.CheckOwnerPassword("user"));
        EXPECT_FALSE(s.CheckUserPassword("owner"));
        EXPECT_TRUE(s.CheckOwnerPassword("owner"));

        auto same = load(encrypted(rc4(bits, "same", "same")));
        EXPECT_TRUE(same->Security().CheckUserPassword("same"));
        EXPECT_TRUE(same->Security().CheckOwnerPassword("same"));
    }
}

TEST(Security, EitherPasswordGivesTheWritersFileKeyAndAFailingOneKeepsIt) {
    for (const int bits : {40, 128}) {
        SCOPED_TRACE(bits);
        PdfWriter w = writer();
        w.Encrypt(rc4(bits, "user", "owner"));
        auto doc = load(w.Finish());
        TPDFSecurityHandler& s = doc->Security();
        for (const char* password : {"owner", "user"}) {
            s.ApplyPassword(password);
            EXPECT_TRUE(s.PasswordApplied());
            EXPECT_EQ(s.AppliedPassword(), password);
            EXPECT_EQ(s.FileKey(), w.FileKey()) << password;
        }
        s.ApplyPassword("wrong");
        EXPECT_FALSE(s.PasswordApplied());
        EXPECT_EQ(s.FileKey(), w.FileKey());
    }

    // Without a user password the 40-bit key is there once the file is loaded.
    PdfWriter w = writer();
    w.Encrypt(rc4(40));
    auto doc = load(w.Finish());
    EXPECT_TRUE(doc->Security().PasswordApplied());
    EXPECT_EQ(doc->Security().AppliedPassword(), "");
    EXPECT_EQ(doc->Security().FileKey(), w.FileKey());
    EXPECT_EQ(doc->Security().FileKey().size(), 5u);
}

// Checks are remembered: asked again in any order they answer as the first time and leave the
// key of the password checked last, and a file loaded into the same document is checked afresh.
TEST(Security, ChecksAskedAgainAnswerAsBeforeAndANewFileIsCheckedAfresh) {
    struct Row {
        int version, revision, bits;
        const char* method;
    };
    for (const Row& row : {Row{1, 2, 40, "V2"}, Row{2, 3, 128, "V2"}, Row{4, 4, 128, "AESV2"},
                           Row{5, 5, 256, "AESV3"}, Row{5, 6, 256, "AESV3"}}) {
        SCOPED_TRACE(row.revision);
        auto params = [&](const char* owner) {
            EncryptionParams p = rc4(row.bits, "user", owner);
            p.Version = row.version;
            p.Revision = row.revision;
            p.Method = row.method;
            return p;
        };
        PdfWriter w = writer();
        w.Encrypt(params("owner"));
        auto doc = load(w.Finish());
        TPDFSecurityHandler& s = doc->Security();
        for (int round = 0; round < 2; ++round) {
            for (const char* password : {"owner", "", "user", "wrong", "user", "owner"}) {
                EXPECT_EQ(s.CheckUserPassword(password), std::string(password) == "user");
                EXPECT_EQ(s.CheckOwnerPassword(password), std::string(password) == "owner");
            }
            for (const char* password : {"user", "owner"}) {
                s.ApplyPassword(password);
                EXPECT_EQ(s.FileKey(), w.FileKey()) << password;
                EXPECT_EQ(s.PermsValid(), row.version == 5) << password;
            }
        }

        // Only the permissions differ: O and the ID stay, the key and U do not.
        PdfWriter other = writer();
        EncryptionParams p = params("owner");
        p.Permissions = -44;
        other.Encrypt(p);
        ASSERT_TRUE(doc->LoadFromBytes(other.Finish()));
        EXPECT_TRUE(doc->Security().CheckUserPassword("user"));
        EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
        doc->Security().ApplyPassword("user");
        EXPECT_EQ(doc->Security().FileKey(), other.FileKey());
    }
}

TEST(Security, LongPasswordsAreCutTo32Bytes) {
    const std::string user(40, 'u');
    auto doc = load(encrypted(rc4(128, user, "owner")));
    EXPECT_TRUE(doc->Security().CheckUserPassword(user.substr(0, 32) + "anything"));
    EXPECT_FALSE(doc->Security().CheckUserPassword(user.substr(0, 31)));
}

TEST(Security, HandWrittenEntriesFollowTheRulesForPermissionsIDAndU) {
    EncryptionParams zero40 = rc4(40), zero128 = rc4(128), r3Forty = rc4(40, "user"),
                     noId = rc4(128, "user"), user128 = rc4(128, "user");
    zero40.Permissions = 0xFFC0;  // P 0 stands for these bits in 40-bit mode
    zero128.Permissions = 0xF0C0; // and for these in revision 3 mode
    r3Forty.Version = 2;          // V 2 R 3 Length 40: revision-3 computations, 5-byte keys
    r3Forty.Revision = 3;
    noId.ID0 = "";
    const struct {
        const char* name;
        EncryptionParams params;
        std::string head, p;
        const char* user;
        bool owner; // the owner password passes too
        int keyLength;
        std::int32_t permissions;
        bool otherUTail; // U's last 16 bytes changed
    } rows[] = {
        {"P written unsigned", rc4(40), "/V 1 /R 2", "4294967292", "", true, 40, -4, false},
        {"P 0 at 40 bits", zero40, "/V 1 /R 2", "0", "", true, 40, 0, false},
        {"P 0 at 128 bits", zero128, "/V 2 /R 3 /Length 128", "0", "", true, 128, 0, false},
        {"R 3 with a 40-bit key, computed the revision-3 way", r3Forty, "/V 2 /R 3 /Length 40",
         "-4", "user", true, 40, -4, false},
        {"no ID: ID0 is empty", noId, "/V 2 /R 3 /Length 128", "-4", "user", true, 128, -4, false},
        {"only 16 bytes of U are compared", user128, "/V 2 /R 3 /Length 128", "-4", "user", true,
         128, -4, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string id;
        std::string keys = entriesFor(row.params, &id);
        if (row.otherUTail)
            keys.replace(keys.size() - 33, 32, std::string(32, 'E'));
        auto doc = load(
            handMade("<< /Filter /Standard " + row.head + " " + keys + " /P " + row.p + " >>", id));
        TPDFSecurityHandler& s = doc->Security();
        EXPECT_EQ(s.KeyLength(), row.keyLength);
        EXPECT_EQ(s.Permissions(), row.permissions);
        EXPECT_TRUE(s.CheckUserPassword(row.user));
        EXPECT_EQ(s.CheckOwnerPassword("owner"), row.owner);
        EXPECT_EQ(doc->Trailer()->Get("ID") == nullptr, id.empty()); // none is made up
    }
}

TEST(Security, UnsignedPermissionsAreFoundPastStringsAndNestedDictionaries) {
    auto doc = load(handMade("<< /Filter /Standard /V 1 /R 2 /O (x/P 7\\) /P 9) "
                             "/Sub << /P 5 >> /U <2F50> /P 4294967292 >>"));
    EXPECT_EQ(doc->Security().Permissions(), -4);
    auto plain =
        load(handMade("<< /Filter /Standard /V 1 /R 2 /O (/P 4294967292) /U <00> /P 0 >>"));
    EXPECT_EQ(plain->Security().Permissions(), 0);
}

// --- Keys and decryption --------------------------------------------------------------------

TEST(Security, ObjectKeysHashTheFileKeyWithThreeNumberAndTwoGenerationBytesAtMost16) {
    auto forty = load(encrypted(rc4(40)));
    const std::string key40 = forty->Security().FileKey();
    ASSERT_EQ(key40.size(), 5u);
    EXPECT_EQ(forty->Security().ObjectKey(7, 0),
              MD5(key40 + std::string("\x07\x00\x00\x00\x00", 5)).substr(0, 10));

    auto full = load(encrypted(rc4(128)));
    const std::string key128 = full->Security().FileKey();
    ASSERT_EQ(key128.size(), 16u);
    EXPECT_EQ(full->Security().ObjectKey(0x7F010203, 0x70405),
              MD5(key128 + std::string("\x03\x02\x01\x05\x04", 5)));
}

TEST(Security, DecryptValueReachesEveryNestedStringWithoutRecursion) {
    TPDFStructure store;
    TPDFDocument doc;
    const std::string key = "k3y";
    TPDFDictionary* dict = store.CreateDictionary();
    TPDFArray* arr = store.CreateArray();
    arr->Add(store.CreateString(RC4(key, "in array")));
    arr->Add(store.CreateRef(4, 0));
    dict->Put("A", arr);
    TPDFStream* stream = store.CreateStream(RC4(key, "stream data"));
    stream->Dictionary()->Put("S", store.CreateString(RC4(key, "in stream dict")));
    dict->Put("B", stream);
    // Nested 200000 deep: the call stack would not take it.
    TPDFArray* current = store.CreateArray();
    dict->Put("C", current);
    for (int i = 0; i < 200000; ++i) {
        TPDFArray* next = store.CreateArray();
        current->Add(next);
        current = next;
    }
    TPDFString* bottom = store.CreateString(RC4(key, "deep"));
    current->Add(bottom);

    doc.Security().DecryptValue(key, dict);
    EXPECT_EQ(Cast<TPDFString>(arr->Item(0))->Value, "in array");
    EXPECT_EQ(AsRef(arr->Item(1))->RefObjNum(), 4);
    EXPECT_EQ(stream->RawData(), "stream data");
    EXPECT_EQ(Cast<TPDFString>(stream->Dictionary()->Get("S"))->Value, "in stream dict");
    EXPECT_EQ(bottom->Value, "deep");
}

TEST(Security, AWalkFromOnePageDecryptsTheWholeTreeUnderAnyPassword) {
    const std::vector<std::string> contents{"(one) Tj", "(two) Tj", "(three) Tj"};
    const std::pair<int, const char*> cases[] = {{40, ""}, {128, "user"}, {128, "owner"}};
    for (const auto& [bits, password] : cases) {
        SCOPED_TRACE(password);
        auto doc = load(encrypted(rc4(bits, bits == 40 ? "" : "user", "owner"), false, contents));
        EXPECT_NE(AsStream(object(*doc, 4))->RawData(), contents[0]);
        doc->Security().ApplyPassword(password);
        doc->DecryptGraph(5, 0); // page 2, reaching the others through `Parent`
        EXPECT_EQ(streamData(*doc, 4), contents[0]);
        EXPECT_EQ(streamData(*doc, 6), contents[1]);
        EXPECT_EQ(streamData(*doc, 8), contents[2]);
        EXPECT_TRUE(doc->FindIndirect(4, 0)->Decrypted);
    }
}

TEST(Security, NothingIsDecryptedBeforeAPasswordNorTwice) {
    auto doc = load(encrypted(rc4(128, "user")));
    TPDFSecurityHandler& s = doc->Security();
    ASSERT_FALSE(s.PasswordApplied());
    TPDFIndObj* slot = doc->FindIndirect(4, 0);
    const std::string raw(AsStream(doc->ObjectOf(slot))->RawData());
    s.DecryptObject(slot);
    doc->DecryptGraph(3, 0);
    EXPECT_FALSE(slot->Decrypted);
    EXPECT_FALSE(slot->Walked);
    EXPECT_EQ(AsStream(slot->Object)->RawData(), raw);

    // Once the password is known the objects decrypt, once.
    s.ApplyPassword("user");
    doc->DecryptGraph(3, 0);
    const TPDFStream* content = AsStream(object(*doc, 4));
    EXPECT_EQ(content->DecodedData(), kContent);
    const std::uint64_t version = content->DataVersion();
    doc->DecryptGraph(3, 0);
    s.DecryptObject(slot);
    doc->DecryptGraph(4, 0);
    EXPECT_EQ(content->DataVersion(), version);
    EXPECT_EQ(content->DecodedData(), kContent);
}

TEST(Security, EncryptEntriesAreReadAsStoredEvenWhenTheWalkReachesThem) {
    PdfWriter w = writer("<< /Type /Page /Parent 2 0 R /Odd 5 0 R >>"); // it references Encrypt
    w.Set(4, "(filler)");
    w.Encrypt(rc4(128)); // the Encrypt dictionary becomes object 5
    auto doc = load(w.Finish());
    ASSERT_EQ(AsRef(doc->Trailer()->Get("Encrypt", false))->RefObjNum(), 5);
    const std::string before = entryOf(*doc, "O");
    doc->DecryptGraph(3, 0);
    EXPECT_EQ(entryOf(*doc, "O"), before);
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
}

TEST(Security, TheWalkPassesThroughObjectStreamMembersAndStreamDictionaries) {
    // Catalog, page tree and page lie in an object stream; the content stream does not.
    auto doc = load(encrypted(rc4(40), true));
    if (doc->ReadCompressedObjects()) {
        ASSERT_TRUE(doc->Reload(""));
    }
    TPDFIndObj* page = doc->FindIndirect(3, 0);
    ASSERT_TRUE(page && page->Compressed);
    ASSERT_NE(AsDictionary(doc->ObjectOf(page)), nullptr);
    EXPECT_TRUE(page->Decrypted);
    doc->DecryptGraph(3, 0);
    EXPECT_EQ(streamData(*doc, 4), kContent);

    // The resources of a form lie in its stream dictionary.
    PdfWriter w = writer("<< /Type /Page /Parent 2 0 R /Contents 4 0 R "
                         "/Resources << /XObject << /Fm1 5 0 R >> >> >>");
    w.SetStream(4, "", "/Fm1 Do");
    w.SetStream(5, " /Type /XObject /Subtype /Form /Resources << /Font << /F1 6 0 R >> >>",
                "(inner) Tj");
    w.Set(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (secret) >>");
    w.Encrypt(rc4(128));
    auto forms = load(w.Finish());
    forms->DecryptGraph(3, 0);
    EXPECT_EQ(streamData(*forms, 5), "(inner) Tj");
    ASSERT_NE(AsDictionary(object(*forms, 6)), nullptr);
    EXPECT_EQ(AsDictionary(object(*forms, 6))->GetText("Note"), "secret");
}

TEST(Security, LongChainsAndSharedObjectsAreWalkedOnceWithoutRecursion) {
    constexpr int kChain = 30000;
    constexpr int kShared = kChain + 1;
    PdfWriter w = writer();
    const std::string shared = std::to_string(kShared) + " 0 R ";
    w.Set(1, "<< /Type /Catalog /Next 2 0 R /A " + shared + "/B [" + shared + shared + "] >>");
    for (int i = 2; i < kChain; ++i)
        w.Set(i, "<< /S (link) /Next " + std::to_string(i + 1) + " 0 R /A " + shared + ">>");
    w.Set(kChain, "<< /S (last) /Next 1 0 R >>"); // and a cycle back to the start
    w.Set(kShared, "(shared)");
    w.Encrypt(rc4(40));
    auto doc = load(w.Finish());
    doc->DecryptGraph(1, 0);
    ASSERT_NE(AsDictionary(object(*doc, kChain)), nullptr);
    EXPECT_EQ(AsDictionary(object(*doc, kChain))->GetText("S"), "last");
    EXPECT_EQ(AsDictionary(object(*doc, kChain / 2))->GetText("S"), "link");
    EXPECT_EQ(Cast<TPDFString>(object(*doc, kShared))->Value, "shared");
}
