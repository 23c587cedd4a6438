#include "fonts/uPDFFontProgram.h"

#include <utility>

#include "fonts/uPDFTrueTypeParser.h"

namespace korvel {

TPDFTrueTypeRasterizer2::TPDFTrueTypeRasterizer2(ResolveFn resolver)
    : TPDFFontRasterizer(std::move(resolver)),
      FParser(std::make_shared<const TPDFTrueTypeParser>()) {}

TPDFTrueTypeRasterizer2::TPDFTrueTypeRasterizer2(std::shared_ptr<const TPDFTrueTypeParser> parser,
                                                 ResolveFn resolver)
    : TPDFFontRasterizer(std::move(resolver)), FParser(std::move(parser)) {
    if (!FParser)
        FParser = std::make_shared<const TPDFTrueTypeParser>();
}

TPDFTrueTypeRasterizer2::~TPDFTrueTypeRasterizer2() = default;

void TPDFTrueTypeRasterizer2::LoadTrueType(std::string_view data) {
    auto parser = std::make_shared<TPDFTrueTypeParser>();
    parser->LoadTrueType(data);
    FParser = std::move(parser);
}

TPDFType3Rasterizer::TPDFType3Rasterizer(const TPDFDictionary* font, ResolveFn resolver)
    : TPDFFontRasterizer(std::move(resolver)) {
    if (!font)
        return;
    if (const TPDFArray* matrix =
            AsArray(ResolveFontValue(Resolver, font->Get("FontMatrix", false)));
        matrix && matrix->Count() == 6) {
        for (int i = 0; i < 6; ++i)
            if (const auto* number = Cast<TPDFNumeric>(matrix->Item(i)))
                FontMatrix[static_cast<std::size_t>(i)] = number->Value;
    }
    if (const TPDFDictionary* procs =
            AsDictionary(ResolveFontValue(Resolver, font->Get("CharProcs", false)))) {
        GlyphProcNames.reserve(static_cast<std::size_t>(procs->Count()));
        FGlyphProcs.reserve(static_cast<std::size_t>(procs->Count()));
        for (int i = 0; i < procs->Count(); ++i) {
            const auto [key, value] = procs->EntryAt(i);
            GlyphProcNames.push_back(key ? key->Value() : std::string());
            // Only a reference to a stream is a procedure; a direct value counts as none.
            FGlyphProcs.push_back(AsRef(value) ? AsStream(ResolveFontValue(Resolver, value))
                                               : nullptr);
        }
    }
}

std::string TPDFType3Rasterizer::GlyphProc(std::size_t index) const {
    if (index >= FGlyphProcs.size() || FGlyphProcs[index] == nullptr)
        return {};
    return FGlyphProcs[index]->DecodedData();
}

} // namespace korvel
