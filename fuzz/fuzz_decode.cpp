// Fuzzes stream decoding over filter chains: the first byte picks up to four filters (and
// parameters), the rest is the stream data.
#include <string>

#include "FuzzTargets.h"
#include "file/uPDFFlate.h"
#include "file/uPDFStructure.h"

int tolvane_fuzz::FuzzDecode(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    korvel::SetDecodeLimit(std::size_t{16} << 20);
    static const char* const names[] = {"FlateDecode", "ASCII85Decode", "LZWDecode", "Fl"};
    korvel::TPDFStructure store;
    korvel::TPDFStream* stream =
        store.CreateStream(std::string(reinterpret_cast<const char*>(data) + 2, size - 2));
    korvel::TPDFArray* filters = store.CreateArray();
    korvel::TPDFArray* parms = store.CreateArray();
    const unsigned pick = data[0];
    const int count = 1 + (pick >> 6);
    for (int i = 0; i < count; ++i) {
        filters->Add(store.CreateName(names[(pick >> (2 * i)) & 3]));
        korvel::TPDFDictionary* p = store.CreateDictionary();
        p->Put("Predictor", store.CreateNumber((data[1] & 1) ? 12 : ((data[1] & 2) ? 2 : 1)));
        p->Put("Columns", store.CreateNumber(1 + (data[1] >> 4)));
        p->Put("Colors", store.CreateNumber(1 + ((data[1] >> 2) & 3)));
        p->Put("EarlyChange", store.CreateNumber((data[1] >> 3) & 1));
        parms->Add(p);
    }
    stream->Dictionary()->Put("Filter", filters);
    stream->Dictionary()->Put("DecodeParms", parms);
    stream->DecodedData();
    korvel::SetDecodeLimit(korvel::kDefaultDecodeLimit);
    return 0;
}

TOLVANE_FUZZ_ENTRY(FuzzDecode)
