// Fuzzes the font program readers. The first byte picks the reader, the rest is its input:
//   0  a CFF font (FontFile3 data)
//   1  a Type 1 program: two big-endian 16-bit numbers, Length1 and Length2, then the program
//      (Length3 is whatever follows), handed over as a FontFile stream
//   2  a TrueType font
//   3  a ToUnicode CMap
#include <cstdlib>
#include <string>

#include "FuzzTargets.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFCMap.h"
#include "fonts/uPDFTrueTypeParser.h"
#include "fonts/uPDFType1.h"

namespace {

void fuzzCFF(const std::uint8_t* data, std::size_t size) {
    korvel::TPDFType1Decoder program;
    program.LoadCFF(std::string_view(reinterpret_cast<const char*>(data), size));
    if (program.ScaleValue == 0 || program.GlyphNames.size() > 65535)
        std::abort();
    for (const std::string& name : program.GlyphNames)
        if (name.size() > korvel::kMaxGlyphNameLength && name.compare(0, 4, "CID:") != 0)
            std::abort();
}

void fuzzType1(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return;
    korvel::TPDFStructure store;
    korvel::TPDFStream* stream =
        store.CreateStream(std::string(reinterpret_cast<const char*>(data) + 4, size - 4));
    const int length1 = (data[0] << 8) | data[1];
    const int length2 = (data[2] << 8) | data[3];
    stream->Dictionary()->Put("Length1", store.CreateNumber(length1));
    stream->Dictionary()->Put("Length2", store.CreateNumber(length2));
    stream->Dictionary()->Put("Length3", store.CreateNumber(static_cast<double>(size)));
    korvel::TPDFType1Decoder program;
    program.LoadType1(stream);
    if (program.ClearText.size() + program.EncryptedPart.size() + program.Trailer.size() > size - 4)
        std::abort();
    korvel::DecryptEexec(program.EncryptedPart);
}

} // namespace

int tolvane_fuzz::FuzzFonts(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    switch (data[0]) {
    case 0:
        fuzzCFF(data + 1, size - 1);
        break;
    case 1:
        fuzzType1(data + 1, size - 1);
        break;
    case 2: {
        korvel::TPDFTrueTypeParser parser;
        parser.LoadTrueType(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
        if (parser.GlyphNames().size() > 65535 || parser.UnitsPerEm() == 0)
            std::abort();
        // A glyph's own name finds that glyph or a later one of the same name.
        for (std::size_t g = 0; g < parser.GlyphNames().size() && g < 64; ++g)
            if (parser.GlyphIndexOfName(parser.GlyphNames()[g]) < std::int32_t(g))
                std::abort();
        parser.AdvanceWidth(0);
        parser.AdvanceWidth(70000);
        break;
    }
    case 3: {
        const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
        korvel::TPDFCMap map = korvel::ParseToUnicode(text);
        for (const auto encoding : {korvel::TTextEncoding::Cp1252, korvel::TTextEncoding::Utf8}) {
            const korvel::TPDFTextVector table = korvel::ToUnicodeTable(map, encoding);
            for (std::size_t i = 1; i < map.Count(); ++i)
                if (map.Item(i - 1).First > map.Item(i).First)
                    std::abort();
            for (const std::uint16_t code : {0, 32, 65, 255, 256, 0x4E00, 0xFFFF}) {
                const auto found = korvel::ToUnicodeLookup(map, code, encoding);
                // In Windows-1252 a code gives one byte per character of its target.
                if (encoding == korvel::TTextEncoding::Cp1252 && found &&
                    (found->empty() || found->size() > korvel::TPDFCMap::kMaxTargetUnits))
                    std::abort();
            }
            (void)table;
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

TOLVANE_FUZZ_ENTRY(FuzzFonts)
