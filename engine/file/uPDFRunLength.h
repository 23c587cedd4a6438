#pragma once
// The two byte-oriented filters: ASCIIHexDecode (hex digits, white space skipped, `>` ends, an
// odd last digit read as if followed by 0) and RunLengthDecode (length bytes 0-127 copy, 129-255
// repeat, 128 ends). A byte that does not belong ends the data: what was decoded before stays.

#include <cstddef>
#include <string>
#include <string_view>

#include "file/uPDFFlate.h"

namespace korvel {

std::string AsciiHexDecode(std::string_view data, std::size_t limit = DecodeLimit());
std::string RunLengthDecode(std::string_view data, std::size_t limit = DecodeLimit());

} // namespace korvel
