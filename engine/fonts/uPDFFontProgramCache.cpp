#include "fonts/uPDFFontProgramCache.h"

#include <functional>

namespace korvel {

TPDFFontProgramCache::TKey TPDFFontProgramCache::KeyOf(const TPDFStream* stream, TProgramKind kind,
                                                       std::array<std::int64_t, 3> lengths) {
    TKey key;
    key.Kind = kind;
    key.Lengths = lengths;
    if (stream) {
        key.DataVersion = stream->DataVersion();
        key.RawSize = stream->RawData().size();
        key.ObjNum = stream->ObjNum;
        key.GenNum = stream->GenNum;
        // An object of the file is known by its numbers: read again after a page's objects were
        // let go, it finds the program parsed before. Only a stream made in memory is known by
        // its address.
        if (!stream->IsIndirect)
            key.Stream = stream;
    }
    return key;
}

std::size_t TPDFFontProgramCache::TKeyHash::operator()(const TKey& key) const noexcept {
    std::size_t h = std::hash<const void*>{}(key.Stream);
    auto mix = [&h](std::uint64_t v) {
        h ^= std::hash<std::uint64_t>{}(v) + 0x9e3779b9 + (h << 6);
    };
    mix(key.DataVersion);
    mix(key.RawSize);
    mix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.ObjNum)) << 32 |
        static_cast<std::uint32_t>(key.GenNum));
    mix(static_cast<std::uint64_t>(key.Kind));
    for (const std::int64_t length : key.Lengths)
        mix(static_cast<std::uint64_t>(length));
    return h;
}

} // namespace korvel
