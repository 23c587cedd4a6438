#pragma once
// MD5 message digest (RFC 1321). Computed here rather than by libcrypto: every process takes
// one (the blank document's ID), and asking libcrypto for it would initialise the library
// at every start, encrypted file or not.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

class TMD5 {
public:
    TMD5();
    void Update(std::string_view data);
    // The 16-byte digest; the object must not be updated afterwards.
    std::string Final();

private:
    void Block(const unsigned char* block);

    std::array<std::uint32_t, 4> FState;
    std::array<unsigned char, 64> FBuffer{};
    std::uint64_t FLength = 0; // bytes fed so far
};

// The 16-byte digest of the data.
std::string MD5(std::string_view data);

} // namespace korvel
