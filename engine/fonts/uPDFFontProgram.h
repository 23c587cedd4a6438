#pragma once
// Font programs as far as text needs them: the base every program derives from (what text
// takes from a program: its scale, and a glyph-drawing hook text never calls), the TrueType
// program over a shared parser and the Type 3 program of a font dictionary. Type 1 and CFF
// programs derive from the same base in fonts/uPDFType1.h.
//
// Ownership: a program owns what it parsed; a TrueType program shares its parser with every
// program made from the same bytes. Programs are immutable once loaded and never throw.
// The helpers at the end are the ones every font reader shares.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "file/uPDFStructure.h"

namespace korvel {

class TPDFTrueTypeParser;

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

// A TrueType program: an embedded FontFile2, an installed substitute face or the built-in
// dingbats font. The parsed tables are immutable once read, so programs made from the same
// bytes (a substitute face, the dingbats font) share one parser.
class TPDFTrueTypeRasterizer2 : public TPDFFontRasterizer {
public:
    explicit TPDFTrueTypeRasterizer2(ResolveFn resolver = {});
    explicit TPDFTrueTypeRasterizer2(std::shared_ptr<const TPDFTrueTypeParser> parser,
                                     ResolveFn resolver = {});
    ~TPDFTrueTypeRasterizer2() override;

    // Reads the data into a parser of this program's own.
    void LoadTrueType(std::string_view data);
    const TPDFTrueTypeParser& Parser() const { return *FParser; }

    double GetScale() const override { return 1; }

private:
    std::shared_ptr<const TPDFTrueTypeParser> FParser;
};

// The program of a Type 3 font: its FontMatrix and the names of its glyph procedures. The
// procedures are never run for text, so their streams are decoded only when asked for.
class TPDFType3Rasterizer : public TPDFFontRasterizer {
public:
    // Reads FontMatrix and CharProcs of a Type 3 font dictionary (nullptr: defaults).
    explicit TPDFType3Rasterizer(const TPDFDictionary* font, ResolveFn resolver = {});

    double GetScale() const override { return 1; }

    // [1 0 0 1 0 0] unless the dictionary's FontMatrix is an array of exactly six elements;
    // then each element that is a number replaces its default.
    std::array<double, 6> FontMatrix{1, 0, 0, 1, 0, 0};
    // The CharProcs keys in dictionary order.
    std::vector<std::string> GlyphProcNames;
    // The decoded procedure of GlyphProcNames[index]; empty when its value is not an indirect
    // reference to a stream, or the index is out of range.
    std::string GlyphProc(std::size_t index) const;

private:
    std::vector<const TPDFStream*> FGlyphProcs; // parallel to GlyphProcNames; may hold nullptr
};

// One level of resolution as the font readers do it: through `resolver` when set, else through
// the reference's own store.
inline TPDFObject* ResolveFontRef(const TPDFStructure::ResolveFn& resolver, const TPDFIndRef* ref) {
    if (resolver)
        return resolver(ref, ref->RefObjNum(), ref->RefGenNum());
    return ref->Resolve();
}

// `value` itself unless it is a reference; then what ResolveFontRef gives for it.
inline TPDFObject* ResolveFontValue(const TPDFStructure::ResolveFn& resolver, TPDFObject* value) {
    const TPDFIndRef* ref = AsRef(value);
    return ref ? ResolveFontRef(resolver, ref) : value;
}

// A number of the dictionary, resolved as ResolveFontValue does and rounded; `otherwise`
// without a dictionary, or when the entry is absent or not a number.
inline std::int32_t FontInteger(const TPDFStructure::ResolveFn& resolver,
                                const TPDFDictionary* dict, std::string_view key,
                                std::int32_t otherwise) {
    if (!dict)
        return otherwise;
    const auto* number = Cast<TPDFNumeric>(ResolveFontValue(resolver, dict->Get(key, false)));
    return number ? number->IntValue() : otherwise;
}

// The bytes [pos, pos + length) of data, cut at its end; empty for a start outside it.
inline std::string_view CutBytes(std::string_view data, std::int64_t pos, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(data.size());
    if (pos < 0 || pos >= size || length <= 0)
        return {};
    return data.substr(static_cast<std::size_t>(pos),
                       static_cast<std::size_t>(std::min(length, size - pos)));
}

} // namespace korvel
