#pragma once
// The CMaps of composite fonts as the reading road reads them: a font's Encoding CMap (a
// predefined name or an embedded stream) takes the shown bytes to codes by its codespace ranges
// (one to four bytes, mixed lengths) and the codes to CIDs; a Unicode CMap (a ToUnicode stream,
// or the CID-to-UCS2 map of an Adobe character collection) takes codes or CIDs to text.
//
// Predefined CMaps are the Adobe CMap files read at run time from a folder (by default the one
// Debian's poppler-data installs; KORVEL_CMAP_DIR or SetCMapFolder choose another), searched in
// the folder itself and in its subfolders. Parsed maps are kept once per process, shared by
// every document and thread. Work is bounded: files past kMaxFileSize are not read, usecmap is
// followed kMaxUseDepth deep, a map keeps at most kMaxRanges ranges.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// A code read from shown bytes: its value and how many bytes it took (1 to 4).
struct TPDFCode {
    std::uint32_t Value = 0;
    std::uint8_t Length = 1;
};

// Ranges of codes with a value each, answered by the range defined last.
class TPDFCodeRanges {
public:
    struct TRange {
        std::uint64_t First = 0;
        std::uint64_t Last = 0;
        std::uint32_t Value = 0;
    };
    // False once the map holds kMaxRanges ranges (the range is not kept).
    bool Add(std::uint64_t first, std::uint64_t last, std::uint32_t value);
    void Finish(); // builds the lookup index; O(n log n)
    // The range holding key (the one added last among several), nullptr when none does.
    const TRange* Find(std::uint64_t key) const;
    std::size_t Count() const { return FRanges.size(); }
    const std::vector<TRange>& Ranges() const { return FRanges; }

private:
    std::vector<TRange> FRanges;   // as added
    std::vector<TRange> FSegments; // disjoint, ordered; Value is an index into FRanges
};

// An Encoding CMap: codespace ranges, code to CID ranges (cidrange, cidchar) and the CIDs of
// notdef ranges, the ranges of a usecmap parent included.
class TPDFCodeMap {
public:
    struct TSpace {
        std::uint8_t Length = 1;
        std::uint8_t Low[4] = {0, 0, 0, 0};
        std::uint8_t High[4] = {0, 0, 0, 0};
    };

    // The next code at `pos` (< bytes.size()): the shortest codespace range matching the
    // leading bytes decides its length; bytes matching none read as a one-byte code.
    TPDFCode Next(std::string_view bytes, std::size_t pos) const;
    // The CID of a code; nullopt when no range maps it.
    std::optional<std::uint32_t> CID(TPDFCode code) const;
    bool Vertical() const { return FVertical; }
    bool Empty() const { return FSpaces.empty(); }
    std::size_t Size() const { return FCIDs.Count() + FNotDef.Count(); }

    // Identity-H or Identity-V: two-byte codes that are their CIDs.
    static std::shared_ptr<const TPDFCodeMap> Identity(bool vertical);

private:
    friend class TCMapReader;
    std::vector<TSpace> FSpaces;
    TPDFCodeRanges FCIDs;   // key: length << 32 | code
    TPDFCodeRanges FNotDef; // likewise
    bool FIdentity = false;
    bool FVertical = false;
};

// A Unicode CMap (bfrange, bfchar): codes, whatever their length, to UTF-16 targets.
class TPDFUnicodeMap {
public:
    // Appends the UTF-8 text of a code; false (nothing appended) when no range maps it.
    bool AppendText(std::string& out, std::uint32_t code) const;
    bool Empty() const { return FRanges.Count() == 0; }
    std::size_t Size() const { return FRanges.Count(); }

private:
    friend class TCMapReader;
    TPDFCodeRanges FRanges;               // Value: index into FTargets
    std::vector<std::u16string> FTargets; // the target of each range's first code
};

class TPDFCMapLibrary {
public:
    static constexpr std::size_t kMaxFileSize = 4u << 20;
    static constexpr int kMaxUseDepth = 4;
    static constexpr std::size_t kMaxRanges = 1u << 16;
    static constexpr std::size_t kMaxCached = 256;

    // The Encoding CMap of a name (Identity-H and Identity-V built in); nullptr when there is
    // no such file or it defines no codespace.
    static std::shared_ptr<const TPDFCodeMap> Predefined(std::string_view name);
    // An embedded Encoding CMap; a usecmap name is read from the folder.
    static std::shared_ptr<const TPDFCodeMap> Embedded(std::string_view data);
    // The CID-to-Unicode map of an Adobe character collection (ordering "Japan1", "GB1",
    // "CNS1", "Korea1", "KR"); nullptr for other orderings or without the file.
    static std::shared_ptr<const TPDFUnicodeMap> Collection(std::string_view ordering);
    // A ToUnicode stream, every bfrange and bfchar section of it.
    static std::shared_ptr<const TPDFUnicodeMap> ToUnicode(std::string_view data);

    // The folder predefined maps are read from.
    static std::string Folder();
};

// Chooses the folder of predefined CMaps for the process (empty: KORVEL_CMAP_DIR when set,
// else /usr/share/poppler/cMap). Maps parsed from the folder before stay cached under it.
void SetCMapFolder(std::string folder);

} // namespace korvel
