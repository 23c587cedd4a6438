#pragma once
// Text encodings of extracted text: Windows-1252 (the default, one byte per character) and
// UTF-8. The fixed Windows-1252 table stands in for the system's wide-to-ANSI conversion; a
// character the code page lacks becomes "?".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// The encoding a font collection produces text in; chosen when the collection is made.
enum class TTextEncoding : std::uint8_t { Cp1252, Utf8 };

// The Windows-1252 byte of a UTF-16 code unit; '?' where the code page has none. The five
// bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) round-trip with the C1
// controls of the same value, as the system conversion does.
char Utf16UnitToCp1252(std::uint16_t unit);
// The Unicode code point of a Windows-1252 byte (the inverse of the above).
char32_t Cp1252ToUnicode(unsigned char byte);
// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF append U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
// Appends UTF-16 units as UTF-8: pairs of surrogates join, a lone surrogate becomes U+FFFD.
void AppendUtf16AsUtf8(std::string& out, const std::uint16_t* units, std::size_t count);
// Appends UTF-16 units as Windows-1252, one byte per character: a pair of surrogates is one
// character beyond U+FFFF and so one '?', as is a lone surrogate.
void AppendUtf16AsCp1252(std::string& out, const std::uint16_t* units, std::size_t count);
// UTF-8 as Windows-1252: one byte per character, '?' for what the code page lacks (a character
// beyond U+FFFF is one '?'); a byte that begins no valid sequence is one '?' too.
std::string Utf8ToCp1252(std::string_view text);

} // namespace korvel
