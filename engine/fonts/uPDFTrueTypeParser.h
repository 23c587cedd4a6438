#pragma once
// The TrueType reader of text extraction: the table directory, unitsPerEm (head), numGlyphs
// (maxp), the glyph names (post 1.0, 2.0, 2.5; 3.0 has none) and the advance widths (hhea,
// hmtx), which give fonts without an embedded program their default widths by glyph name.
//
// Loading never fails: a table that is missing, or too short for a field, leaves that field at
// its default; offsets and counts from the file are checked against the data before any read.
// Glyph outlines and cmap subtables are not read: text extraction needs none of them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct TPDFTTDirectoryEntry {
    std::array<char, 4> Tag{};
    std::uint32_t Checksum = 0;
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
};

class TPDFTrueTypeParser {
public:
    // Forgets what an earlier load read, then reads `data`; empty data, or data that is not a
    // TrueType file (sfnt version 1.0, "true" or "typ1"), reads nothing.
    void LoadTrueType(std::string_view data);

    // The highest glyph index whose name equals `name` exactly; -1 when none does or when the
    // font has no glyph names.
    std::int32_t GlyphIndexOfName(std::string_view name) const;
    // The advance of a glyph (>= 0) in thousandths of an em; glyphs past the horizontal
    // metrics take the last advance, and a font without metrics gives 750.
    std::int32_t AdvanceWidth(std::int32_t glyph) const;

    // The first directory entry with the tag; nullptr when there is none.
    const TPDFTTDirectoryEntry* FindTable(std::string_view tag) const;

    std::uint32_t SfntVersion() const { return FSfntVersion; }
    const std::vector<TPDFTTDirectoryEntry>& Directory() const { return FDirectory; }
    std::uint16_t UnitsPerEm() const { return FUnitsPerEm; }
    std::uint16_t NumGlyphs() const { return FNumGlyphs; }
    std::uint16_t NumberOfHMetrics() const { return FNumberOfHMetrics; }
    // One name per glyph index (some possibly empty), or no entries at all.
    const std::vector<std::string>& GlyphNames() const { return FGlyphNames; }
    // In thousandths of an em; at most numberOfHMetrics entries (fewer when hmtx is short).
    const std::vector<std::uint16_t>& AdvanceWidths() const { return FAdvanceWidths; }

private:
    void ReadPost(std::string_view post);
    void IndexNames();

    std::uint32_t FSfntVersion = 0;
    std::vector<TPDFTTDirectoryEntry> FDirectory;
    std::uint16_t FUnitsPerEm = 2048;
    std::uint16_t FNumGlyphs = 0;
    std::uint16_t FNumberOfHMetrics = 0;
    std::vector<std::string> FGlyphNames;
    std::vector<std::uint16_t> FAdvanceWidths;
    // Indexes of the named glyphs ordered by name, and by falling index among equal names, so
    // that a binary search finds the highest index of a name first; the highest glyph without
    // a name apart (-1 when every glyph has one, or there are no names).
    std::vector<std::uint16_t> FNameOrder;
    std::int32_t FLastUnnamed = -1;
};

} // namespace korvel
