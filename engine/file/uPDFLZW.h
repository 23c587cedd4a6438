#pragma once
// LZW decoding (most significant bit first), with or without early change.

#include <cstddef>
#include <string>
#include <string_view>

#include "file/uPDFFlate.h"

namespace korvel {

std::string LZWDecode(std::string_view data, bool earlyChange, std::size_t limit = DecodeLimit());

} // namespace korvel
