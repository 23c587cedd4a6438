#pragma once
// The object syntax at the level of bytes: its character classes, and the decoders of the
// string operands of content streams. The scanner of objects itself is reached through
// TPDFStructure::Parse (uPDFStore.h).

#include <string>
#include <string_view>

namespace korvel {

// Character classes of the object syntax.
inline bool IsWhiteSpace(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
// `}` is deliberately not a delimiter.
inline bool IsDelimiter(unsigned char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '/' ||
           c == '%' || c == '{';
}

// Content-stream operand decoders: take a whole token as cut out by a content reader.
std::string ParseHexToken(std::string_view token);
std::string ParseLiteralToken(std::string_view token);

} // namespace korvel
