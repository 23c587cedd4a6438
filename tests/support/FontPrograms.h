#pragma once
// Font program bytes for tests and benchmarks: big-endian fields, sfnt files of given tables
// (with directory entries that may lie), a small TrueType font of named glyphs, and CFF INDEX
// structures. Nothing here validates.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tolvane_test {

void Put16(std::string& out, std::uint32_t value);
void Put32(std::string& out, std::uint32_t value);

// One table of an sfnt file; a directory Offset or Length of -1 is the true one.
struct SfntTable {
    std::string Tag, Data;
    std::int64_t Offset = -1, Length = -1;
};
// The tables in order after the directory, each 4-aligned. numTables -1 writes the true count.
std::string SfntFile(const std::vector<SfntTable>& tables, std::uint32_t version = 0x00010000,
                     std::int32_t numTables = -1);

// A TrueType font with head, hhea, hmtx, maxp and post 2.0 naming the glyphs (name, advance),
// and, when glyfBytesPerGlyph is above 0, a glyf table of filler first.
std::string TrueTypeProgram(const std::vector<std::pair<std::string, int>>& glyphs,
                            std::uint32_t unitsPerEm, std::size_t glyfBytesPerGlyph = 0);

// A CFF INDEX of the items with 4-byte offsets (a count of 0 alone when empty).
std::string CffIndex(const std::vector<std::string>& items);

} // namespace tolvane_test
