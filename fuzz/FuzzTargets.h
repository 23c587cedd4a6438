#pragma once
// Entry points of the fuzz targets, shared by the libFuzzer builds and the corpus replay.

#include <cstddef>
#include <cstdint>

namespace tolvane_fuzz {
int FuzzParse(const std::uint8_t* data, std::size_t size);
int FuzzDecode(const std::uint8_t* data, std::size_t size);
int FuzzDocument(const std::uint8_t* data, std::size_t size);
int FuzzDocumentRepair(const std::uint8_t* data, std::size_t size);
int FuzzFonts(const std::uint8_t* data, std::size_t size);
} // namespace tolvane_fuzz

#ifdef TOLVANE_FUZZ_REPLAY
#define TOLVANE_FUZZ_ENTRY(fn)
#else
#define TOLVANE_FUZZ_ENTRY(fn)                                                                     \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {            \
        return tolvane_fuzz::fn(data, size);                                                       \
    }
#endif
