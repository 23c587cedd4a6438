#pragma once
// The filter chain of a stream: reads `Filter` and `DecodeParms` / `DP` from its dictionary and
// applies FlateDecode (with predictors), ASCII85Decode and LZWDecode; other names pass the data on.

#include <string>
#include <string_view>

namespace korvel {

class TPDFDictionary;
class TPDFStream;

std::string DecodeStream(const TPDFStream& stream);
// The same chain over raw bytes read in place, with the filters of the given dictionary.
std::string DecodeStreamData(const TPDFDictionary* dict, std::string_view raw);

} // namespace korvel
