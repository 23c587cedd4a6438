#pragma once
// ASCII base-85 decoding; data without its `~>` end marker decodes to nothing.

#include <cstddef>
#include <string>
#include <string_view>

#include "file/uPDFFlate.h"

namespace korvel {

std::string Ascii85Decode(std::string_view data, std::size_t limit = DecodeLimit());

} // namespace korvel
