#include "security/uRC4.h"

#include <cstdint>
#include <utility>

namespace korvel {

std::string RC4(std::string_view key, std::string_view data) {
    // An empty key has no defined schedule; the data passes unchanged rather than dividing by 0.
    if (key.empty())
        return std::string(data);
    if (key.size() > 256)
        key = key.substr(0, 256);
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = std::uint8_t(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        j = std::uint8_t(j + s[i] + std::uint8_t(key[i % key.size()]));
        std::swap(s[i], s[j]);
    }
    std::string out(data);
    std::uint8_t x = 0, y = 0;
    for (char& c : out) {
        x = std::uint8_t(x + 1);
        y = std::uint8_t(y + s[x]);
        std::swap(s[x], s[y]);
        c = char(std::uint8_t(c) ^ s[std::uint8_t(s[x] + s[y])]);
    }
    return out;
}

} // namespace korvel
