#pragma once
// The glyph sink: the interpreter's second consumer beside the funnel. Text showing hands it
// every shown code with its place on the page, for roads that lay text out themselves (reading
// order, words with boxes). A sink sees exactly the codes the funnel's runs are made of.
//
// Ownership: a glyph's views point into the interpreter's state and live for the call only.

#include <cstdint>
#include <string_view>

#include "text/uPDFMatrix.h"

namespace korvel {

struct TPDFShownGlyph {
    std::string_view Text; // the code's text in the engine's text encoding; may be empty
    TPDFPoint Origin;      // on the baseline (the rise applied), page space
    TPDFPoint End;         // where the glyph's drawn width ends (spacing aside), page space
    TPDFPoint Up;          // one font size up from the origin, page space
    double Ascent = 0;     // the font's ascent and descent as shares of its size
    double Descent = 0;    // (descent negative)
    std::int32_t RenderMode = 0;
    std::string_view FontName;
    bool Vertical = false; // vertical writing: the advance runs down the glyph's column
};

class TPDFGlyphSink {
public:
    virtual ~TPDFGlyphSink() = default;
    virtual void AddGlyph(const TPDFShownGlyph& glyph) = 0;
};

} // namespace korvel
