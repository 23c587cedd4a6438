#pragma once
// Font programs: the base class of the programs a font can carry (embedded Type 1 / CFF,
// TrueType, Type 3) as far as text extraction needs them.
//
// Text never draws glyphs; what it takes from a program is its built-in encoding, its glyph
// names and widths, and its scale (GetScale). Each program keeps a copy of the resolver of the
// font collection that made it; an unset resolver means references resolve through the store.

#include <cstdint>
#include <utility>

#include "file/uPDFStructure.h"

namespace korvel {

class TPDFFontRasterizer {
public:
    using ResolveFn = TPDFStructure::ResolveFn;

    explicit TPDFFontRasterizer(ResolveFn resolver = {}) : Resolver(std::move(resolver)) {}
    virtual ~TPDFFontRasterizer() = default;
    TPDFFontRasterizer(const TPDFFontRasterizer&) = delete;
    TPDFFontRasterizer& operator=(const TPDFFontRasterizer&) = delete;

    // Draws one glyph. Text extraction never calls it, so programs that only serve text keep
    // this no-op.
    virtual void DrawGlyph(std::int32_t /*glyph*/) {}
    // The factor by which single-byte widths are divided; 1 for most programs.
    virtual double GetScale() const = 0;

    ResolveFn Resolver;
};

} // namespace korvel
