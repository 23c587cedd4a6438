#pragma once
// Reconstruction of a damaged file (lenient reading): the scan of the whole file for `N G obj`
// headers and `trailer` keywords, here, and the document's use of it (TPDFDocument::Reconstruct
// and its parts, defined in uPDFRepair.cpp): slots for the objects found, the members of object
// streams, the trailer rebuilt from the newest trailers or cross-reference streams, the catalog
// found among all objects when no trailer names one.

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvel {

// An object found by scanning: the last definition of its number in the file, its bytes
// running up to the next header or trailer, whatever number that header has.
struct TScannedObject {
    std::int32_t ObjNum = 0;
    std::int32_t GenNum = 0;
    std::int64_t Offset = 0;
    std::int64_t End = 0;
};

struct TFileScan {
    std::vector<TScannedObject> Objects; // in file order, one per number
    // Where the newest `trailer` keywords end, in file order (older ones are never tried).
    std::vector<std::int64_t> Trailers;
};

// Each `obj` and `trailer` keyword costs a bounded look back; a file of millions of headers of
// one number costs one entry.
TFileScan ScanForObjects(std::string_view data);

} // namespace korvel
