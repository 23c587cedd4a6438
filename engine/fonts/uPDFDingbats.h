#pragma once
// The engine's built-in dingbats font: a small TrueType program compiled into the library in
// zlib-compressed form, inflated on first use and kept until exit. Fonts that name the standard
// dingbats font without embedding a program get a TrueType program made from it.

#include <string>

namespace korvel {

// The inflated TrueType file; empty when the compiled-in data does not inflate completely.
// Thread-safe; the bytes never change once made.
const std::string& BuiltInDingbatsFont();
// The same bytes under the name the program readers use.
inline const std::string& DingbatsFontData() {
    return BuiltInDingbatsFont();
}

} // namespace korvel
