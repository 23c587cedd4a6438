#pragma once
// The filter chain of a stream: reads `Filter` and `DecodeParms` / `DP` from its dictionary and
// applies FlateDecode (with predictors), ASCII85Decode and LZWDecode; other names pass the data on.

#include <string>

namespace korvel {

class TPDFStream;

std::string DecodeStream(const TPDFStream& stream);

} // namespace korvel
