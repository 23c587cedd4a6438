#pragma once
// The names every front end (command line, batch, Python) gives layouts, page filters and text
// encodings, and the numbers the settings keep for them. Layout and filter names are exact
// lower case; encoding names take any letter case and the common spellings.

#include <optional>
#include <string>
#include <string_view>

#include "platform/uCodePage.h"

namespace tolvane {

// "order" 0, "smart" 1, "position" 2, "reading" 3 (the settings' text types).
std::optional<int> LayoutFromName(std::string_view name);
// "all" 1, "odd" 2, "even" 3 (the settings' page filters).
std::optional<int> FilterFromName(std::string_view name);
// "utf-8"/"utf8", "cp1252"/"windows-1252"/"cp-1252"/"win1252", in any letter case.
std::optional<korvel::TTextEncoding> EncodingFromName(std::string_view name);

// The accepted names for a message: "order, smart or position".
inline constexpr std::string_view kLayoutNames = "order, smart, position or reading";
inline constexpr std::string_view kFilterNames = "all, odd or even";
inline constexpr std::string_view kEncodingNames = "utf-8 or cp1252 (also utf8, windows-1252)";

} // namespace tolvane
