#pragma once
// The content interpreter's tokens: the lexer that cuts content into tokens (places in the
// content) and steps over inline images, the operators it knows (looked up by table), and the
// token source an interpretation reads, cut as it goes or from a list made once per form.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/uPDFExtractor.h"
#include "text/uPDFRenderer.h"

namespace korvel {

// The interpreter's tokens as places in the content, and the stepping over inline images.
class TContentLexer {
public:
    explicit TContentLexer(std::string_view data)
        : FData(data), FLexer(data, TPDFRawLexer::TSyntax::Interpreter) {}

    bool Next(TContentToken& token) {
        const std::string_view view = FLexer.Next();
        if (view.empty())
            return false;
        token.Pos = static_cast<std::uint32_t>(view.data() - FData.data());
        token.Len = static_cast<std::uint32_t>(view.size());
        return true;
    }

    std::string_view View(TContentToken token) const { return FData.substr(token.Pos, token.Len); }

    // Steps over an inline image whose `BI` was the last token: reads its dictionary up to
    // `ID`, finds where the data ends and leaves the position at the `EI` that follows (or at
    // the end of the content). Never moves back before the byte after `ID`.
    void SkipInlineImage();

private:
    struct TImage {
        std::int64_t Width = 0, Height = 0, Bits = -1;
        bool Mask = false;
        int Components = 1;
        bool Filtered = false;
        bool Dct = false;
    };

    std::size_t FindEI(std::size_t from, bool whiteAfter) const;
    // The position just after the end-of-image marker of JPEG data from `from`; npos when the
    // walk meets no such marker.
    std::size_t WalkJpeg(std::size_t from) const;
    void ReadImageDictionary(TImage& image, bool& sawId);

    std::string_view FData;
    TPDFRawLexer FLexer;
};

// The operators the interpreter acts on.
enum class TOp : std::uint8_t {
    None,
    Save,
    Restore,
    Concat,
    ExtGState,
    XObject,
    FillRGB,
    FillCMYK,
    FillGray,
    StrokeRGB,
    StrokeCMYK,
    StrokeGray,
    FillColour,
    StrokeColour,
    FillSpace,
    StrokeSpace,
    LineWidth,
    LineCap,
    LineJoin,
    Dash,
    Point,   // m, l
    Curve6,  // c
    Curve4,  // v, y, re
    Nothing, // path painting and clipping
    Tf,
    BT,
    Tm,
    Td,
    TD,
    TStar,
    Tz,
    Ts,
    Tr,
    Tc,
    Tw,
    TL,
    Tj,
    Quote,
    TJ,
    Array,
    InlineImage,
    Shading,
};

// The operator a token names; TOp::None for any other token.
TOp FindOperator(std::string_view token);

// The tokens of content as an interpretation reads them: the operators named, array elements
// named as none, inline images already stepped over. A form drawn again reads this list
// instead of cutting its content anew.
std::vector<TContentToken> Tokenize(std::string_view data);

// Tokens cut from the content as they are read, or read from a list Tokenize made.
class TTokenSource {
public:
    TTokenSource(std::string_view data, const std::vector<TContentToken>* tokens)
        : FLexer(data), FTokens(tokens) {}

    bool Next(TContentToken& token) {
        if (FTokens) {
            if (FIndex >= FTokens->size())
                return false;
            token = (*FTokens)[FIndex++];
            return true;
        }
        if (!FLexer.Next(token))
            return false;
        token.Op = static_cast<std::uint8_t>(FindOperator(FLexer.View(token)));
        return true;
    }
    // A list has its images stepped over already.
    void SkipInlineImage() {
        if (!FTokens)
            FLexer.SkipInlineImage();
    }
    std::string_view View(TContentToken token) const { return FLexer.View(token); }

private:
    TContentLexer FLexer;
    const std::vector<TContentToken>* FTokens;
    std::size_t FIndex = 0;
};

} // namespace korvel
