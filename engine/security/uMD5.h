#pragma once
// MD5 message digest (RFC 1321).

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
    void Transform(const unsigned char* block);
    std::uint32_t FState[4];
    std::uint64_t FLength = 0;
    unsigned char FBuffer[64];
};

// The 16-byte digest of the data.
std::string MD5(std::string_view data);

} // namespace korvel
