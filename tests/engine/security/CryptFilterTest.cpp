// AES and crypt filters of the security handler: known keys for revisions 4 to 6, the filter a
// string or stream is decrypted with, padding, passwords as text, and whole files read back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "file/uPDFStructure.h"
#include "security/uCrypto.h"
#include "security/uPDFSecurity.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::EncryptionParams;
using tolvane_test::MakeSimplePdf;
using tolvane_test::PdfWriter;

namespace {

const std::string kContent = "BT /F1 12 Tf 72 700 Td (Secret text) Tj ET";

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
        out += std::string{digits[c >> 4], digits[c & 15]};
    return out;
}

// A one-page file with a hand-written Encrypt dictionary (its objects are not encrypted).
std::string handMade(const std::string& encryptBody,
                     const std::string& id = "31415926535897932384626433832795") {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    w.Set(9, encryptBody);
    w.TrailerExtra = "/Encrypt 9 0 R /ID [<" + id + "> <" + id + ">]";
    return w.Finish();
}

std::unique_ptr<TPDFDocument> load(const std::string& bytes) {
    auto doc = std::make_unique<TPDFDocument>();
    EXPECT_TRUE(doc->LoadFromBytes(bytes));
    return doc;
}

EncryptionParams params(int version, int revision, std::string user, std::string owner = "owner") {
    EncryptionParams p;
    p.Version = version;
    p.Revision = revision;
    p.KeyBits = version >= 5 ? 256 : 128;
    p.UserPassword = std::move(user);
    p.OwnerPassword = std::move(owner);
    return p;
}

std::string encrypted(const EncryptionParams& p, bool objectStreams = false) {
    tolvane_test::SimpleDocOptions options;
    options.Encrypted = true;
    options.Encryption = p;
    options.UseObjectStreams = objectStreams;
    return MakeSimplePdf({kContent}, options);
}

std::string pageText(const std::string& file, const std::string& password = "") {
    TKorvel korvel;
    EXPECT_EQ(korvel.LoadFromBytes(file), 1);
    if (!password.empty()) {
        EXPECT_NE(korvel.SetPassword(password), 0);
    }
    korvel.SelectPage(1);
    return korvel.GetPageText(0);
}

// Encrypt dictionaries written by another tool for the user password "user" and the owner
// password "owner", with the file keys it reports.
const std::string kR4 =
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /Filter /Standard "
    "/Length 128 /O <0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671> /P -4 "
    "/R 4 /StmF /StdCF /StrF /StdCF "
    "/U <763f954d16622015ee88b60b3eb8f7590122456a91bae5134273a6db134c87c4> /V 4 >>";
const std::string kR4ClearMetadata =
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >> /EncryptMetadata false "
    "/Filter /Standard /Length 128 "
    "/O <0ba3835f88f90388e74e54584125ce142be0de24c6b0d37746e075b891756671> /P -4 /R 4 "
    "/StmF /StdCF /StrF /StdCF "
    "/U <fb8f3661d99bba02de37f0c770ae4d2a0122456a91bae5134273a6db134c87c4> /V 4 >>";
const std::string kR5 =
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard "
    "/Length 256 /O <b11c2353aa4be05687a75ce06e7e10c1bcadf7157a5846db5fa5234a50e171af79df166093"
    "9315dc56782ef7a4c6e74d> /OE <b13742225b7c8ac7ee459e7eccd4b17c6ad0e6f1c2eebba35b911e07e035288"
    "d> /P -4 /Perms <212b56a20d7f72411177f0f8810226c0> /R 5 /StmF /StdCF /StrF /StdCF "
    "/U <0c0d3b67b8dc50ed13c6f0b926352103ac216d9ea18e4bca526eececd522a5cc3358ca1c73a362f0039668ee"
    "28466702> /UE <22a21d469957be6d737aa1fe0bfd82e5c699bc602731a44954050fe7ee2de2a5> /V 5 >>";
const std::string kR6 =
    "<< /CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >> /Filter /Standard "
    "/Length 256 /O <82a50042c337c8caa355043124427559a91caf65817817c07409fccd79269d645ce57bb1b4e3"
    "8b17b638238a2df4ae14> /OE <daf2dc575306dd039453bfd51d8a6ed0a5f2be76afd79f2c83e361ac3c6336e5> "
    "/P -4 /Perms <0d756c3185e8a48fb65e67b0b6ed2ee6> /R 6 /StmF /StdCF /StrF /StdCF "
    "/U <9ddb43e4ce698d7feb3ebe06895a87fe9e22e67d73f905999dc1b71541b906b7d069edee48a269c553383717"
    "258041d6> /UE <a85ab14ba798c88075f3cc84d6f423015a9bf98e4d0acd96b3fa65c09f44eab9> /V 5 >>";

} // namespace

// --- Known keys -----------------------------------------------------------------------------

TEST(CryptFilter, KnownEntriesGiveTheKnownFileKeyForUserAndOwner) {
    const struct {
        const char* name;
        const std::string& dict;
        int keyLength;
        const char* key;
    } rows[] = {
        {"R 4, metadata encrypted", kR4, 128, "55831911f0f2b9a08ac3cbcc766166db"},
        {"R 4, metadata in clear", kR4ClearMetadata, 128, "ca7f4da6a3bdc51a30f25e233d3cb9fc"},
        {"R 5", kR5, 256, "bbc3f453fd932fe67746292b8e8af8b0f730768aab76ceaedd04803408df2271"},
        {"R 6", kR6, 256, "3efce5686e73498bf00567cdf796b844ea59f08bfb39a785d46b2e7a8b99d0e7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto doc = load(handMade(row.dict));
        TPDFSecurityHandler& s = doc->Security();
        EXPECT_EQ(s.EncryptionKind(), 1);
        EXPECT_EQ(s.KeyLength(), row.keyLength);
        EXPECT_FALSE(s.PasswordApplied());
        EXPECT_FALSE(s.CheckUserPassword(""));
        EXPECT_FALSE(s.CheckUserPassword("owner"));
        EXPECT_FALSE(s.CheckOwnerPassword("user"));
        s.ApplyPassword("user");
        ASSERT_TRUE(s.PasswordApplied());
        EXPECT_EQ(hexOf(s.FileKey()), row.key);
        s.ApplyPassword("owner");
        EXPECT_EQ(hexOf(s.FileKey()), row.key);
        EXPECT_EQ(s.PermsValid(), row.keyLength == 256);
    }
    // A Perms that does not agree is noticed, and the file is read all the same.
    std::string tampered = kR6;
    tampered.replace(tampered.find("/Perms <0d"), 10, "/Perms <1d");
    auto doc = load(handMade(tampered));
    doc->Security().ApplyPassword("user");
    EXPECT_TRUE(doc->Security().PasswordApplied());
    EXPECT_FALSE(doc->Security().PermsValid());
}

TEST(CryptFilter, Revision6HashOfAnEmptyPasswordIsTheKnownOne) {
    // SHA-256 of nothing is the first key; the rounds that follow are the revision-6 ones.
    EXPECT_EQ(hexOf(HashV5("", "", "", 5)),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashV5("", "", "", 6).size(), 32u);
    EXPECT_NE(HashV5("", "", "", 6), HashV5("", "", "", 5));
}

// --- Whole files ----------------------------------------------------------------------------

TEST(CryptFilter, EveryMethodReadsBackThePlainText) {
    const std::string plain = pageText(MakeSimplePdf({kContent}));
    ASSERT_NE(plain.find("Secret text"), std::string::npos);
    EncryptionParams rc4v4 = params(4, 4, "");
    rc4v4.Method = "V2";
    EncryptionParams clearMeta = params(4, 4, "");
    clearMeta.EncryptMetadata = false;
    EncryptionParams r5 = params(5, 5, "");
    const struct {
        const char* name;
        EncryptionParams p;
    } rows[] = {
        {"V 4 RC4", rc4v4},        {"V 4 AES-128", params(4, 4, "")},
        {"metadata in clear", clearMeta}, {"R 5", r5},
        {"R 6", params(5, 6, "")},
    };
    for (const auto& row : rows) {
        for (const bool objectStreams : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (objectStreams ? " in object streams" : ""));
            EXPECT_EQ(pageText(encrypted(row.p, objectStreams)), plain);
        }
    }
}

TEST(CryptFilter, UserAndOwnerPasswordsOfAES256FilesAreToldApart) {
    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(encrypted(params(5, 6, "user", "owner"))), 1);
    EXPECT_EQ(korvel.Encrypted(), 1);
    EXPECT_EQ(korvel.SecurityInfo(1), 3);
    EXPECT_EQ(korvel.SecurityInfo(7), 6); // 256 bits count as 128 for permissions
    EXPECT_EQ(korvel.SecurityInfo(10), 12);
    EXPECT_EQ(korvel.SetPassword("wrong"), 0);
    EXPECT_EQ(korvel.SetPassword("owner"), 2);
    EXPECT_EQ(korvel.SetPassword("user"), 1);
    korvel.SelectPage(1);
    EXPECT_NE(korvel.GetPageText(0).find("Secret text"), std::string::npos);

    TKorvel aes128;
    ASSERT_EQ(aes128.LoadFromBytes(encrypted(params(4, 4, "user", "owner"))), 1);
    EXPECT_EQ(aes128.SecurityInfo(10), 8);
    EXPECT_EQ(aes128.SetPassword("user"), 1);
}

TEST(CryptFilter, Revision3With40BitKeysComputesTheRevision3Way) {
    EncryptionParams p = params(2, 3, "user");
    p.KeyBits = 40;
    const std::string file = encrypted(p);
    auto doc = load(file);
    EXPECT_EQ(doc->Security().KeyLength(), 40);
    EXPECT_TRUE(doc->Security().CheckUserPassword("user"));
    EXPECT_TRUE(doc->Security().CheckOwnerPassword("owner"));
    EXPECT_NE(pageText(file, "user").find("Secret text"), std::string::npos);
}

TEST(CryptFilter, KeyLengthsBetween40And128BitsAreHonoured) {
    EncryptionParams p = params(2, 3, "");
    p.KeyBits = 56;
    auto doc = load(encrypted(p));
    EXPECT_TRUE(doc->Security().PasswordApplied());
    EXPECT_EQ(doc->Security().FileKey().size(), 7u);
}

// --- Which filter decrypts what -------------------------------------------------------------

TEST(CryptFilter, AStreamsOwnCryptFilterAndIdentityDefaultsAreHonoured) {
    // Streams AES-128, strings in clear; one stream names Identity, one names the filter itself.
    PdfWriter plain;
    plain.RootObj = 1;
    plain.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    plain.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    plain.Set(3, "<< /Type /Page /Parent 2 0 R /Title (clear string) >>");
    plain.SetStream(4, "/Filter /Crypt /DecodeParms << /Name /Identity >>", "in clear");
    plain.SetStream(5, "", "encrypted");
    plain.SetStream(6, "/Filter [/Crypt] /DecodeParms [<< /Name /StdCF >>]", "named");
    PdfWriter keys; // only for the file key and the object keys of the entries below
    EncryptionParams p = params(4, 4, "");
    keys.Encrypt(p);
    const std::string iv(16, 'i');
    auto aes = [&](int num, const std::string& data) {
        return AESEncryptPadded(keys.ObjectKey(num, 0), iv, data);
    };
    plain.SetStream(5, "", aes(5, "encrypted"));
    plain.SetStream(6, "/Filter [/Crypt] /DecodeParms [<< /Name /StdCF >>]", aes(6, "named"));
    plain.Set(9, "<< /Filter /Standard /V 4 /R 4 /Length 128 /CF << /StdCF << /CFM /AESV2 >> "
                 "/Odd << /CFM /Unknown >> >> /StmF /StdCF /StrF /Identity /O <" +
                     hexOf(keys.OwnerEntry()) + "> /U <" + hexOf(keys.UserEntry()) + "> /P -4 >>");
    plain.TrailerExtra =
        "/Encrypt 9 0 R /ID [<" + hexOf(p.ID0) + "> <" + hexOf(p.ID0) + ">]";
    auto doc = load(plain.Finish());
    TPDFSecurityHandler& s = doc->Security();
    ASSERT_EQ(s.EncryptionKind(), 1);
    EXPECT_EQ(s.StringMethod(), TCryptMethod::None);
    EXPECT_EQ(s.StreamMethod(), TCryptMethod::AESV2);
    for (int n = 3; n <= 6; ++n)
        doc->DecryptObject(doc->FindIndirect(n, 0));
    auto raw = [&](int n) { return std::string(AsStream(doc->ObjectOf(doc->FindIndirect(n, 0)))->RawData()); };
    const auto* page = AsDictionary(doc->ObjectOf(doc->FindIndirect(3, 0)));
    EXPECT_EQ(Cast<TPDFString>(page->Get("Title"))->Value, "clear string");
    EXPECT_EQ(raw(4), "in clear");
    EXPECT_EQ(raw(5), "encrypted");
    EXPECT_EQ(raw(6), "named");
}

TEST(CryptFilter, MetadataStaysInClearWhenTheFileSaysSo) {
    for (const bool encryptMetadata : {true, false}) {
        SCOPED_TRACE(encryptMetadata);
        PdfWriter w;
        w.RootObj = 1;
        w.Set(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>");
        w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        w.SetStream(4, "/Type /Metadata /Subtype /XML", "<x:xmpmeta/>");
        EncryptionParams p = params(4, 4, "");
        p.EncryptMetadata = encryptMetadata;
        w.Encrypt(p);
        const std::string file = w.Finish();
        EXPECT_EQ(file.find("<x:xmpmeta/>") != std::string::npos, !encryptMetadata);
        auto doc = load(file);
        ASSERT_TRUE(doc->Security().PasswordApplied());
        doc->DecryptObject(doc->FindIndirect(4, 0));
        EXPECT_EQ(AsStream(doc->ObjectOf(doc->FindIndirect(4, 0)))->RawData(), "<x:xmpmeta/>");
    }
}

// --- Padding --------------------------------------------------------------------------------

TEST(CryptFilter, AESPaddingEdgesKeepWhatDecryptsAndNeverReadPastTheData) {
    const std::string key(16, 'k');
    const std::string iv(16, 'v');
    const std::string sealed = AESEncryptPadded(key, iv, "sixteen bytes!!!");
    ASSERT_EQ(sealed.size(), 48u); // IV, one block of data, one whole block of padding
    EXPECT_EQ(AESDecryptPadded(key, sealed), "sixteen bytes!!!");
    EXPECT_EQ(AESDecryptPadded(key, AESEncryptPadded(key, iv, "")), "");
    EXPECT_EQ(AESDecryptPadded(key, ""), "");
    EXPECT_EQ(AESDecryptPadded(key, iv), "");                      // only an IV
    EXPECT_EQ(AESDecryptPadded(key, sealed.substr(0, 20)), "");    // a partial block
    EXPECT_EQ(AESDecryptPadded(key, sealed + "abc"), "sixteen bytes!!!"); // a tail dropped
    // Without its padding block the data block is kept whole (its last byte is no padding).
    EXPECT_EQ(AESDecryptPadded(key, sealed.substr(0, 32)), "sixteen bytes!!!");
    // Bad padding: a block ending in 0, or in a count its bytes do not repeat, stays.
    const std::string zeroEnd = std::string(15, 'a') + '\0';
    EXPECT_EQ(AESDecryptPadded(key, iv + AESEncryptCBC(key, iv, zeroEnd)), zeroEnd);
    const std::string mixed = std::string(14, 'a') + "\x01\x02";
    EXPECT_EQ(AESDecryptPadded(key, iv + AESEncryptCBC(key, iv, mixed)), mixed);
    const std::string tooBig = std::string(15, 'a') + "\x11";
    EXPECT_EQ(AESDecryptPadded(key, iv + AESEncryptCBC(key, iv, tooBig)), tooBig);
}

// --- Passwords as text ----------------------------------------------------------------------

TEST(CryptFilter, PasswordsOfRevisions2To4AreConvertedToWindows1252) {
    EXPECT_EQ(PasswordToCp1252("plain"), "plain");
    EXPECT_EQ(PasswordToCp1252("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(PasswordToCp1252("\xE2\x82\xAC"), "\x80"); // the euro sign
    EXPECT_EQ(PasswordToCp1252("\xE4\xB8\xAD"), std::nullopt); // no Windows-1252 byte
    EXPECT_EQ(PasswordToCp1252("\xF0\x9F\x98\x80"), std::nullopt);
    EXPECT_EQ(PasswordToCp1252("caf\xE9"), "caf\xE9"); // not UTF-8: taken as bytes

    EncryptionParams p = params(2, 3, "caf\xE9");
    const std::string file = encrypted(p);
    auto doc = load(file);
    EXPECT_TRUE(doc->Security().CheckUserPassword("caf\xC3\xA9"));
    EXPECT_FALSE(doc->Security().CheckUserPassword("caf\xE4\xB8\xAD"));
}

TEST(CryptFilter, PasswordsOfRevision6AreUtf8CutTo127Bytes) {
    const std::string longText(200, 'a');
    EXPECT_EQ(PasswordForAES256(longText), std::string(127, 'a'));
    // A cut never splits a character.
    const std::string accents = std::string(126, 'a') + "\xC3\xA9";
    EXPECT_EQ(PasswordForAES256(accents), std::string(126, 'a'));
#ifdef TOLVANE_HAVE_STRINGPREP
    EXPECT_EQ(PasswordForAES256("a\xC2\xA0" "b"), "a b"); // SASLprep maps a no-break space
#endif
    auto doc = load(encrypted(params(5, 6, "caf\xC3\xA9", "o")));
    EXPECT_TRUE(doc->Security().CheckUserPassword("caf\xC3\xA9"));
    EXPECT_FALSE(doc->Security().CheckUserPassword("caf\xE9"));
    auto longDoc = load(encrypted(params(5, 6, std::string(127, 'a'), "o")));
    EXPECT_TRUE(longDoc->Security().CheckUserPassword(longText));
}
