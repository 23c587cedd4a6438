#pragma once
// Embedded Type 1 (FontFile) and CFF (FontFile3) programs as far as text needs them: the
// built-in encoding, the scale from the CFF FontMatrix, whether a CFF font is CID-keyed, and
// the glyph names in glyph order. Outlines and charstrings are never interpreted. The Type 1
// reading is here; the CFF reading is fonts/uPDFCFF.h, whose results the program keeps.
//
// Loading never throws: data that does not fit the expected layout leaves the fields at their
// defaults (StandardEncoding names for Type 1, empty names for CFF, scale 1, no glyph names).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fonts/uPDFCFF.h"
#include "fonts/uPDFFontConst.h"
#include "fonts/uPDFFontProgram.h"

namespace korvel {

class TPDFType1Decoder : public TPDFFontRasterizer {
public:
    explicit TPDFType1Decoder(ResolveFn resolver = {});
    ~TPDFType1Decoder() override;

    // A FontFile stream: Length1/2/3 of its dictionary cut the decoded data into clear text,
    // encrypted part and trailer; the clear text gives BuiltInEncoding and FontBBox.
    void LoadType1(const TPDFStream* stream);
    // The same over bytes already decoded, with the three lengths as the dictionary gives them.
    void LoadType1(std::string_view data, std::int64_t length1, std::int64_t length2,
                   std::int64_t length3);
    // A FontFile3 stream holding a bare CFF font: fills BuiltInEncoding, ScaleValue, IsCIDKeyed
    // and GlyphNames.
    void LoadCFF(const TPDFStream* stream);
    void LoadCFF(std::string_view data);

    double GetScale() const override { return ScaleValue; }

    // 256 empty names after construction; StandardEncoding names once LoadType1 ran.
    TPDFGlyphNames BuiltInEncoding;
    double ScaleValue = 1;
    bool IsCIDKeyed = false;
    // The three parts of a Type 1 program; all empty unless Length1 and Length2 are positive.
    std::string ClearText;
    std::string EncryptedPart;
    std::string Trailer;
    // The clear text's FontBBox when it is an array, else nullptr. Owned by this program.
    TPDFArray* FontBBox = nullptr;
    // CFF: one name per glyph index ("CID:<n>" for CID-keyed fonts).
    std::vector<std::string> GlyphNames;

private:
    // Holds the values parsed from the Type 1 clear text (FontBBox points into it).
    std::unique_ptr<TPDFStructure> FStore;
};

// The tokens of a Type 1 clear text, rewritten into PDF object syntax and joined with single
// spaces (so `11 dict begin` gives `<<`, and a `dup N /name put` encoding an array of N, /name).
std::string Type1ClearTextToPDF(std::string_view clearText);

// Undoes eexec encryption (key 55665) and drops the four leading random bytes. Leading white
// space is skipped; input whose first four bytes then are hex digits is read as hex, white
// space between digits skipped, up to the first other byte.
std::string DecryptEexec(std::string_view data);

} // namespace korvel
