#pragma once
// Bare CFF font programs (FontFile3) as far as text needs them: the built-in encoding, the scale
// from the FontMatrix, whether the font is CID-keyed, and the glyph names in glyph order.
// Charstrings are never interpreted.
//
// Reading never throws and reads the data in place: offsets and counts from the font are
// checked on every read, and data that does not fit the expected layout leaves the fields
// reached so far at their defaults.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fonts/uPDFFontConst.h"

namespace korvel {

// A glyph name longer than this is cut: real names stay far below it (the CFF limit for names
// is 127 bytes), and the cut keeps 65,535 glyphs that share one huge string item from
// multiplying it.
constexpr std::size_t kMaxGlyphNameLength = 127;
// CFF DICT operands beyond this many before an operator are dropped (the CFF limit is 48).
constexpr int kMaxDictOperands = 48;

// What text reads from a CFF font.
struct TPDFCFFContents {
    // 256 empty names unless the font's encoding gives them.
    TPDFGlyphNames BuiltInEncoding;
    // 1000 times the first FontMatrix element; 1 without one, or when that gives 0.
    double Scale = 1;
    bool IsCIDKeyed = false;
    // One name per glyph index ("CID:<n>" for CID-keyed fonts).
    std::vector<std::string> GlyphNames;
};

// Reads the first font of the data: a CFF in a PDF file holds one.
TPDFCFFContents ReadCFF(std::string_view data);

} // namespace korvel
