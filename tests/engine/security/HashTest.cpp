#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>

#include "security/uMD5.h"
#include "security/uRC4.h"

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string md5Hex(const std::string& text) {
    return hex(korvel::MD5(text));
}

TEST(MD5, MatchesTheReferenceTestSuite) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                     "7890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, PaddingBoundariesAroundOneBlock) {
    // 55 bytes fit the length in the same block, 56 need a second one, 64 is exactly one block.
    EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(MD5, PiecewiseUpdatesEqualOneUpdate) {
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += char(i * 7 + 3);
    for (std::size_t cut : {0u, 1u, 63u, 64u, 65u, 130u, 299u, 300u}) {
        korvel::TMD5 md5;
        md5.Update(std::string_view(data).substr(0, cut));
        md5.Update(std::string_view(data).substr(cut));
        EXPECT_EQ(md5.Final(), korvel::MD5(data)) << "cut at " << cut;
    }
}

TEST(MD5, AgreesWithLibcryptoOnEveryLengthUpToFiveBlocks) {
    std::string data;
    for (int length = 0; length <= 320; ++length, data += char(length * 131 + 17)) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr), 1);
        EXPECT_EQ(korvel::MD5(data), std::string(reinterpret_cast<char*>(digest), size))
            << "length " << length;
    }
}

TEST(MD5, ZeroBytesAreHashedNotTerminators) {
    EXPECT_EQ(md5Hex(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");
    EXPECT_NE(korvel::MD5(std::string("a\0b", 3)), korvel::MD5("a"));
}

TEST(RC4, MatchesPublishedVectors) {
    EXPECT_EQ(hex(korvel::RC4("Key", "Plaintext")), "bbf316e8d940af0ad3");
    EXPECT_EQ(hex(korvel::RC4("Wiki", "pedia")), "1021bf0420");
    EXPECT_EQ(hex(korvel::RC4("Secret", "Attack at dawn")), "45a01f645fc35b383552544b9bf5");
}

TEST(RC4, ApplyingTwiceGivesTheInputBack) {
    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += char(i * 31);
    std::string key("\x00\xff\x10\x80\x7f", 5);
    std::string once = korvel::RC4(key, data);
    EXPECT_NE(once, data);
    EXPECT_EQ(korvel::RC4(key, once), data);
}

TEST(RC4, EmptyDataGivesEmptyOutput) {
    EXPECT_EQ(korvel::RC4("Key", ""), "");
}

TEST(RC4, EmptyKeyLeavesDataUnchanged) {
    EXPECT_EQ(korvel::RC4("", "abc"), "abc");
}

TEST(RC4, KeysLongerThan256BytesUseTheirFirst256) {
    std::string key(256, 'k');
    EXPECT_EQ(korvel::RC4(key + "extra", "some data"), korvel::RC4(key, "some data"));
}

TEST(RC4, KeyOf256BytesIsUsedWhole) {
    std::string key(256, 'k');
    std::string shorter = key.substr(0, 255) + "x";
    // The last key byte changes only one swap of the schedule; enough output exposes it.
    std::string data(1000, 'd');
    EXPECT_NE(korvel::RC4(key, data), korvel::RC4(shorter, data));
}

} // namespace
