// Fuzzes the object scanner and writing values back as text.
#include <string>
#include <string_view>

#include "FuzzTargets.h"
#include "file/uPDFStructure.h"

int tolvane_fuzz::FuzzParse(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    korvel::TPDFStructure store;
    if (korvel::TPDFObject* value = store.Parse(text)) {
        const std::string written = value->ToText();
        korvel::TPDFStructure again;
        again.Parse(written);
    }
    korvel::ParseHexToken(text);
    korvel::ParseLiteralToken(text);
    return 0;
}

TOLVANE_FUZZ_ENTRY(FuzzParse)
