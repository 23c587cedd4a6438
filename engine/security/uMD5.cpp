#include "security/uMD5.h"

#include <cstring>

namespace korvel {

namespace {

constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};
constexpr int kShifts[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

std::uint32_t rotateLeft(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

} // namespace

TMD5::TMD5() : FState{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void TMD5::Block(const unsigned char* block) {
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = static_cast<std::uint32_t>(block[4 * i]) |
                   (static_cast<std::uint32_t>(block[4 * i + 1]) << 8) |
                   (static_cast<std::uint32_t>(block[4 * i + 2]) << 16) |
                   (static_cast<std::uint32_t>(block[4 * i + 3]) << 24);
    std::uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f = 0;
        int g = 0;
        switch (i / 16) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        const std::uint32_t rotated = rotateLeft(a + f + kSines[i] + words[g],
                                                 kShifts[(i / 16) * 4 + i % 4]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    FState[0] += a;
    FState[1] += b;
    FState[2] += c;
    FState[3] += d;
}

void TMD5::Update(std::string_view data) {
    std::size_t used = static_cast<std::size_t>(FLength % 64);
    FLength += data.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t rest = data.size();
    if (used > 0) {
        const std::size_t take = std::min<std::size_t>(64 - used, rest);
        std::memcpy(FBuffer.data() + used, bytes, take);
        used += take;
        bytes += take;
        rest -= take;
        if (used < 64)
            return;
        Block(FBuffer.data());
    }
    for (; rest >= 64; bytes += 64, rest -= 64)
        Block(bytes);
    if (rest > 0)
        std::memcpy(FBuffer.data(), bytes, rest);
}

std::string TMD5::Final() {
    const std::uint64_t bits = FLength * 8;
    const std::size_t used = static_cast<std::size_t>(FLength % 64);
    unsigned char padding[72] = {0x80};
    const std::size_t padLength = (used < 56 ? 56 : 120) - used;
    for (int i = 0; i < 8; ++i)
        padding[padLength + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(bits >> (8 * i));
    Update(std::string_view(reinterpret_cast<const char*>(padding), padLength + 8));
    std::string digest(16, '\0');
    for (int i = 0; i < 16; ++i)
        digest[static_cast<std::size_t>(i)] = static_cast<char>(FState[i / 4] >> (8 * (i % 4)));
    return digest;
}

std::string MD5(std::string_view data) {
    TMD5 md5;
    md5.Update(data);
    return md5.Final();
}

} // namespace korvel
