#pragma once
// RC4 stream cipher: a key of 1 to 256 bytes (longer keys use their first 256), any data length;
// applying it twice with the same key gives the input back.

#include <string>
#include <string_view>

namespace korvel {

std::string RC4(std::string_view key, std::string_view data);

} // namespace korvel
