#pragma once
// Reading order: from the glyphs a page shows, the words a reader sees, grouped into lines and
// blocks, in the order they read them. Glyphs are grouped by writing direction (each of the
// four quarter turns; vertical writing reads like text turned a quarter clockwise); within a
// direction, glyphs on one baseline make lines (superscripts and subscripts stay in theirs),
// lines close above one another make blocks, and blocks are ordered by the whitespace between
// them: horizontal bands top to bottom, and within a band of columns each column top to bottom,
// columns left to right. Lines side by side on shared baselines whose blocks are narrow, as
// table cells are, are read as rows.
//
// Input is plain data, so any producer (the interpreter's glyph sink, a test) can feed it;
// nothing here reads a file. Work is bounded: at most kMaxGlyphs glyphs are laid out, and every
// step is about n log n in the glyphs or blocks of a page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/uPDFGlyphSink.h"
#include "text/uPDFMatrix.h"

namespace korvel {

// One shown glyph in the page's display space (points, y up, the page's rotation applied).
struct TReadingGlyph {
    std::string Text; // UTF-8; empty for a glyph without text (left out)
    double X = 0;     // origin on the baseline
    double Y = 0;
    double DirX = 1; // unit vector of the writing direction
    double DirY = 0;
    double Advance = 0;    // along the writing direction
    double Size = 0;       // font size
    double Ascent = 0.8;   // above the baseline, a share of Size
    double Descent = 0.2;  // below the baseline, a share of Size (positive)
    bool Vertical = false; // vertical writing (columns top to bottom, right to left)
};

// A word with its box in display space with the origin at the top left (y down).
struct TReadingWord {
    std::string Text;
    double X0 = 0;
    double Top = 0;
    double X1 = 0;
    double Bottom = 0;
    double Size = 0;
    std::int32_t Block = 0; // numbers count from 0 in reading order
    std::int32_t Line = 0;  // within the block
    std::int32_t Word = 0;  // within the line
};

struct TReadingLayout {
    std::vector<TReadingWord> Words; // in reading order
    std::size_t DroppedGlyphs = 0;   // duplicates drawn over one another, and glyphs past the bound
    std::size_t UnmappedGlyphs = 0;  // shown glyphs without any text
    std::size_t MappedGlyphs = 0;    // shown glyphs with text, spaces included
};

class TPDFReadingOrder {
public:
    // A page with more glyphs than this is hostile; the rest are left out.
    static constexpr std::size_t kMaxGlyphs = 2'000'000;
    // A gap wider than this share of the font size between two glyphs ends a word.
    static constexpr double kWordGap = 0.15;
    // A gap wider than this share of the font size ends a line's piece; narrower gutters are
    // found by the lines above and below that leave them empty too.
    static constexpr double kLineGap = 3;

    // Lays out the glyphs of a page `width` by `height` points (display space).
    static TReadingLayout LayOut(std::vector<TReadingGlyph> glyphs, double width, double height);
    // The text: words of a line joined by a space, lines by LF, a blank line between blocks,
    // a final LF after the last line; empty when there are no words.
    static std::string Text(const TReadingLayout& layout);
};

// The glyph sink of the reading road: keeps a page's shown glyphs as reading glyphs, moved by
// `Display` from page space into display space (the page's rotation). Text must be UTF-8.
class TPDFReadingCollector final : public TPDFGlyphSink {
public:
    TPDFMatrix Display;
    std::vector<TReadingGlyph> Glyphs;
    std::size_t Unmapped = 0; // shown glyphs without text
    std::size_t Dropped = 0;  // glyphs past kMaxGlyphs

    void AddGlyph(const TPDFShownGlyph& glyph) override;

private:
    // CJK glyphs of a horizontal font set one under the other in content order are vertical
    // writing: each such pair is stood up into a column. The horizontal glyph added last, as
    // shown (glyphs of vertical fonts between, as punctuation often is, are passed over).
    struct TLast {
        bool Valid = false;
        std::size_t Index = 0; // in Glyphs
        bool CJK = false;
        double X = 0, Y = 0, DirX = 1, DirY = 0, Size = 0;
    } FLast;
};

// Ligature characters (U+FB00 to U+FB06) written as their letters; other text as it is.
std::string ExpandLigatures(const std::string& text);

} // namespace korvel
