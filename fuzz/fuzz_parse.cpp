// Fuzzes the object scanner and writing values back as text: what was written must read back
// to the same text, and releasing the parsed tree must keep the store consistent.
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzTargets.h"
#include "file/uPDFStructure.h"

int tolvane_fuzz::FuzzParse(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    korvel::TPDFStructure store;
    std::size_t end = 0;
    if (korvel::TPDFObject* value = store.Parse(text, &end)) {
        if (end > text.size())
            std::abort();
        const std::string written = value->ToText();
        korvel::TPDFStructure again;
        const korvel::TPDFObject* back = again.Parse(written);
        // Only a top-level empty hex string `<>` is too short to be read again.
        const auto* s = korvel::Cast<korvel::TPDFString>(value);
        const bool tooShort = s && s->IsHex && s->Value.empty();
        if (!tooShort && (!back || back->ToText() != written))
            std::abort();
        if (auto* d = korvel::AsDictionary(value)) {
            korvel::TPDFDictionary* copy = again.CreateDictionary();
            copy->Assign(d);
            if (copy->ToText() != written)
                std::abort();
        }
        const int count = store.ObjectCount();
        value->ReleaseTree();
        if (store.ObjectCount() != count - 1)
            std::abort();
    }
    korvel::ParseHexToken(text);
    korvel::ParseLiteralToken(text);
    return 0;
}

TOLVANE_FUZZ_ENTRY(FuzzParse)
