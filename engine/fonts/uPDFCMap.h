#pragma once
// ToUnicode maps: a keyword scanner that reads a ToUnicode CMap stream into a flat list of code
// ranges (the first code-space, bfrange and bfchar sections only), and the three ways the list
// is applied: a 256-entry text vector, an overlay on an existing one, and the lookup of one
// two-byte code.
//
// The scanner never fails; unreadable data gives fewer ranges or none. Codes and targets are
// cut to their low 16 bits. A target keeps all its units: in Windows-1252 each character of it
// becomes one byte ('?' where the code page has none), in UTF-8 its UTF-8 form.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fonts/uPDFFontConst.h"
#include "platform/uCodePage.h"

namespace korvel {

struct TPDFCMapRange {
    std::uint16_t First = 0;  // first character code
    std::uint16_t Last = 0;   // last character code (First for a bfchar entry)
    std::uint16_t Target = 0; // the UTF-16 unit First maps to; later codes map to later units
    // 0 when the target is the single unit Target; otherwise 1 + the index of the target's full
    // unit sequence in its map (its last unit is the one that counts up through the range).
    std::uint32_t Units = 0;
};

class TPDFCMap {
public:
    bool Empty() const { return FRanges.empty(); }
    std::size_t Count() const { return FRanges.size(); }
    const TPDFCMapRange& Item(std::size_t index) const { return FRanges[index]; }
    const std::vector<TPDFCMapRange>& Ranges() const { return FRanges; }

    // Appends a range. `units` is the target's full UTF-16 sequence; it is kept only when it
    // holds more than one unit and no more than kMaxTargetUnits (a longer target reads as
    // Target alone).
    void Append(std::uint16_t first, std::uint16_t last, std::uint16_t target,
                std::span<const std::uint16_t> units = {});

    // Orders the ranges by First the way an exchange sort does (for each position, every later
    // range with a smaller First swaps into it). That sort is not stable, and which of several
    // ranges with equal First ends up first decides the text, so the order is reproduced
    // exactly, in O(n log n). Does nothing on a map already sorted.
    void Sort();

    // The text of range `index` for the code `offset` places after the range's start unit.
    void AppendText(std::string& out, std::size_t index, std::uint16_t offset,
                    TTextEncoding encoding) const;
    // The index of the first range in array order that contains code; -1 when none does. Uses
    // an index of code segments built on first use (O(n log n)), then a binary search.
    std::int32_t FindRange(std::uint16_t code) const;

    // Targets of more units than this keep only their 16-bit Target: real ligatures and
    // decompositions are a few units long, and a bound keeps a hostile map from multiplying
    // its size into every code's text.
    static constexpr std::size_t kMaxTargetUnits = 64;

private:
    std::vector<TPDFCMapRange> FRanges;
    std::vector<std::uint16_t> FUnitData;                           // all multi-unit targets
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FUnitRefs; // offset, count in FUnitData
    bool FSorted = true;
    // Lookup index: code segments [FSegStart[i], FSegStart[i + 1]) answered by FSegRange[i].
    mutable bool FIndexed = false;
    mutable std::vector<std::uint32_t> FSegStart;
    mutable std::vector<std::int32_t> FSegRange;
};

// Reads the decoded data of a ToUnicode stream.
TPDFCMap ParseToUnicode(std::string_view data);

// The text of the single-byte codes 0..255: from 256 empty entries (Table) or from a copy of
// `text` (Overlay), every code a range reaches gets the range's text. Both sort the map first.
// A range that starts inside an earlier one is used only from the first code after the earlier
// one ends, and counts from there.
TPDFTextVector ToUnicodeTable(TPDFCMap& map, TTextEncoding encoding = TTextEncoding::Cp1252);
TPDFTextVector ToUnicodeOverlay(TPDFCMap& map, const TPDFTextVector& text,
                                TTextEncoding encoding = TTextEncoding::Cp1252);

// The text of one two-byte code: the first range in array order that contains it decides;
// nullopt when none does. Expects a map a table operation has sorted.
std::optional<std::string> ToUnicodeLookup(const TPDFCMap& map, std::uint16_t code,
                                           TTextEncoding encoding = TTextEncoding::Cp1252);

} // namespace korvel
