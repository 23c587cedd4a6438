#pragma once
// The font collection of text extraction.
//
// The programs (fonts/uPDFFontProgram.h, fonts/uPDFType1.h) hold what text takes from a font
// program: its built-in encoding, glyph names, widths and scale. The font collection
// (TPDFFontCollection) loads each font dictionary a page selects once, into a flat record of
// 256-entry tables (TPDFFontCollectionData) plus the CID width list and ToUnicode map of
// composite fonts; the text extractors read the record of the font selected last.
//
// Ownership: a collection shares its records with the document's record cache
// (TPDFFontRecordCache, optional), which keeps loaded records across the pages of one
// document; a record owns its CID width list and shares its program with the document's
// program cache (TPDFFontProgramCache, optional), which keeps parsed embedded programs. A
// record is never changed once its load ends. Loading never throws: keys of the wrong kind are
// skipped, unreadable programs keep their defaults.

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "file/uPDFStructure.h"
#include "fonts/uPDFCIDMaps.h"
#include "fonts/uPDFCMap.h"
#include "fonts/uPDFFontConst.h"
#include "fonts/uPDFFontProgram.h"
#include "fonts/uPDFFontProgramCache.h"
#include "platform/uCodePage.h"

namespace korvel {

// The default width and W array of a CIDFont, kept as the ranges the array gives (CID c to l
// with width w) in array order. A CID listed more than once takes its first width; lookups
// answer that first match through an index of disjoint segments in O(log n).
class TPDFCIDWidths {
public:
    struct TRange {
        std::int32_t First = 0;
        std::int32_t Last = 0;
        std::int32_t Width = 0;
    };

    // Appends a range (nothing when last < first). Call Finish once all are added.
    void Add(std::int32_t first, std::int32_t last, std::int32_t width);
    // Builds the lookup index; O(n log n) in the number of ranges.
    void Finish();

    // The width of the first range holding cid; nullopt when none does.
    std::optional<std::int32_t> Find(std::int64_t cid) const;
    // Find, else DW.
    std::int32_t Width(std::int64_t cid) const { return Find(cid).value_or(DW); }
    const std::vector<TRange>& Ranges() const { return FRanges; }

    std::int32_t DW = 1000;

private:
    std::vector<TRange> FRanges;
    std::vector<TRange> FSegments; // disjoint, ordered by First; each the first match there
};

// One loaded font: the tables text extraction reads, precomputed for the 256 single-byte codes.
struct TPDFFontCollectionData {
    TPDFFontCollectionData() { Widths.fill(750); }
    TPDFFontCollectionData(const TPDFFontCollectionData&) = delete;
    TPDFFontCollectionData& operator=(const TPDFFontCollectionData&) = delete;

    // The object number of the reference the font was selected through; the cache key. 0 for
    // a font given as a direct dictionary, whose key is the font resource dictionary holding
    // it (by identity) and its name there.
    std::int32_t ObjNum = 0;
    const TPDFDictionary* Holder = nullptr;
    std::string ResourceName;
    // Which record this is among all records ever made (from 1): a dropped record's address
    // may come back for another font, its serial does not.
    std::uint64_t Serial = 0;
    // Glyph-space widths (thousandths of an em; Type 3 glyph space for Type 3 fonts).
    TPDFWidths Widths;
    // The text of each code as SelectFont hands it out. Keeps empty entries where Text falls
    // back to the code's own character.
    TPDFTextVector CodeText;
    // BaseFont, "Arial" without one, or a standard font's substitute name.
    std::string FontName = "Arial";
    // Shared with the program cache and other collections; never changed once loaded.
    std::shared_ptr<const TPDFFontRasterizer> Program;
    TPDFGlyphNames GlyphNames;
    std::uint8_t IsTwoByte = 0;
    // DW and W of a CIDFont; nullptr for every other font.
    std::unique_ptr<TPDFCIDWidths> CIDWidths;
    double Ascent = 0;
    double Descent = 0;
    // The text of each code for the page interpreter.
    TPDFTextVector Text;
    // The ToUnicode ranges, sorted by First; empty without a ToUnicode stream.
    TPDFCMap ToUnicode;
    std::int32_t FirstChar = 0;
    std::int32_t LastChar = 0;
    // The CIDToGIDMap stream of a CIDFontType2 descendant (nullptr otherwise). Text never reads
    // the map, so it is decoded only on request.
    const TPDFStream* CIDToGIDMapStream = nullptr;
    std::string CIDToGIDMap() const;
    // Composite fonts of a collection that reads codes by their CMap (nullptr otherwise): the
    // Encoding CMap, the ToUnicode map with all its sections, and the CID text of the font's
    // Adobe character collection; the vertical advance of DW2 (glyph units, downwards).
    std::shared_ptr<const TPDFCodeMap> CodeMap;
    std::shared_ptr<const TPDFUnicodeMap> CodeUnicode;
    std::shared_ptr<const TPDFUnicodeMap> CIDUnicode;
    double VerticalAdvance = 1000;
};

// Loaded font records of one document, shared by its page-text calls: a page selecting a font
// object an earlier page loaded takes that record instead of loading it again. A record is
// known by the numbers of the reference it was selected through and the collection settings
// that shape it (text encoding, programs, glyph names as text, codes by CMap); fonts given
// without an object number are never kept. Records that point at objects of their page (a
// Type 3 program, a CIDToGIDMap stream) are not kept either: a page's objects go when the
// next page is selected. The estimated size of the records (and the embedded programs they
// hold) is bounded; the least recently used go first. Thread-safe; never throws.
class TPDFFontRecordCache {
public:
    // A record's tables take about 30 KB: a few hundred records, more than the fonts most
    // documents have, and still well within the memory of a pass over a long document.
    static constexpr std::uint64_t kDefaultBudget = std::uint64_t{8} << 20;

    struct TKey {
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
        // The collection settings the record was loaded under (TPDFFontCollection::Settings).
        std::uint32_t Settings = 0;
        friend bool operator==(const TKey&, const TKey&) = default;
    };
    struct TEntry {
        std::shared_ptr<const TPDFFontCollectionData> Record;
        // The CMap ranges the load parsed, charged to each collection that takes the record;
        // whether the load read the font's CMaps (a collection past its bound reads none).
        std::size_t CMapRanges = 0;
        bool ReadCMaps = false;
        std::uint64_t Size = 0;
    };

    explicit TPDFFontRecordCache(std::uint64_t budget = kDefaultBudget) : FCache(budget) {}

    std::optional<TEntry> Find(const TKey& key) { return FCache.Find(key); }
    // Stores an entry (replacing one of the same key); one larger than the budget is not
    // stored.
    void Insert(const TKey& key, TEntry entry) {
        const std::uint64_t size = entry.Size;
        FCache.Insert(key, std::move(entry), size);
    }
    void Clear() { FCache.Clear(); }

    std::size_t Count() const { return FCache.Count(); }
    std::uint64_t Bytes() const { return FCache.Bytes(); }
    std::uint64_t Hits() const { return FCache.Hits(); }
    std::uint64_t Misses() const { return FCache.Misses(); }

private:
    struct TKeyHash {
        std::size_t operator()(const TKey& key) const noexcept;
    };
    TBoundedCache<TKey, TEntry, TKeyHash> FCache;
};

// The fonts of one page-text call. SelectFont loads a font dictionary the first time its
// object number is selected and hands out its tables; Current is the record selected last.
class TPDFFontCollection {
public:
    using ResolveFn = TPDFStructure::ResolveFn;

    // A page with more distinct fonts than this is hostile; past it the oldest records (but
    // Current) are dropped, and loaded again, identically, if selected again. Records take
    // about 30 KB each, so memory stays bounded.
    static constexpr std::size_t kMaxLoadedFonts = 1024;

    // Text comes out in `encoding`; embedded programs come from `cache` and loaded records
    // from `records` when given.
    explicit TPDFFontCollection(TTextEncoding encoding = TTextEncoding::Cp1252,
                                TPDFFontProgramCache* cache = nullptr,
                                TPDFFontRecordCache* records = nullptr);
    ~TPDFFontCollection();
    TPDFFontCollection(const TPDFFontCollection&) = delete;
    TPDFFontCollection& operator=(const TPDFFontCollection&) = delete;

    // Selects the font a reference leads to, loading it the first time its object number
    // comes (the generation is not compared), and copies its CodeText and Widths out.
    // nullptr changes nothing. Every load adds exactly one complete record, also for a
    // reference that does not lead to a dictionary (loaded as an empty font dictionary).
    void SelectFont(const TPDFIndRef* ref, TPDFWidths& widths, TPDFTextVector& text);
    // Selects like SelectFont without copying the tables out; returns the record now Current,
    // nullptr (nothing changed) without a reference. Selecting the record already current is a
    // hash lookup.
    const TPDFFontCollectionData* Select(const TPDFIndRef* ref);
    // Selects the font a font resource dictionary gives under `name`: a reference as Select
    // does, a direct font dictionary loaded the first time this holder and name come. Any
    // other value, or none, changes nothing and gives nullptr.
    const TPDFFontCollectionData* Select(const TPDFDictionary* holder, std::string_view name);
    // Selects the direct font dictionary `font` that `holder` keeps under `name`.
    const TPDFFontCollectionData* SelectDirect(const TPDFDictionary* holder, std::string_view name,
                                               const TPDFDictionary* font);

    // The record selected last; before any selection an empty record (HasCurrent false).
    const TPDFFontCollectionData& Current() const { return FCurrent ? *FCurrent : FNone; }
    bool HasCurrent() const { return FCurrent != nullptr; }
    // The width of a CID in Current: its first W entry, else DW; 1000 without a CID list.
    std::int32_t CIDWidth(std::int64_t cid) const;
    // Whether Current's W array lists the CID (false without a CID list).
    bool CIDWidthListed(std::int64_t cid) const;
    // Current's program scale; 1 without a program.
    double ProgramScale() const;
    // The text of a two-byte code through Current's ToUnicode map, in this collection's
    // encoding; nullopt when no range covers it.
    std::optional<std::string> ToUnicodeText(std::uint16_t code) const;

    const std::vector<std::shared_ptr<const TPDFFontCollectionData>>& Fonts() const {
        return FFonts;
    }
    TTextEncoding Encoding() const { return FEncoding; }
    TPDFFontProgramCache* ProgramCache() const { return FCache; }
    TPDFFontRecordCache* RecordCache() const { return FRecords; }
    // The settings below and the encoding as one number: records loaded under different
    // settings differ.
    std::uint32_t Settings() const;

    // Resolves references while loading; unset, references resolve through their store.
    // Programs are taken from the cache only while it is unset (a cached program carries no
    // resolver of its own).
    ResolveFn Resolver;
    // Whether font programs are made; false leaves every font without a program except CFF
    // ones (FontFile3). Text extraction sets it right after construction. The record cache is
    // used only while Resolver is unset.
    bool LoadPrograms = false;
    // Whether a standard font given without a descriptor gets its installed substitute as its
    // program. The raw-order extractor reads no program and leaves it unset: such a font's
    // widths and text come from the standard metrics and its encoding either way.
    bool StandardPrograms = true;
    // Whether a glyph name no rule turns into characters is the code's text (the positioned
    // and raw roads write it); the reading road leaves such codes without text.
    bool GlyphNamesAsText = true;
    // Whether composite fonts read their codes through their Encoding CMap (codespace ranges,
    // code to CID) and take text from their Adobe character collection where ToUnicode gives
    // none (the reading road); otherwise codes are byte pairs read through ToUnicode alone.
    bool CodesByCMap = false;

private:
    class TLoader;
    void LoadFont(const TPDFIndRef* ref);
    // Appends the record of a reference: the record cache's when it has one that fits,
    // else a fresh load (then offered to the cache).
    void AddRecord(const TPDFIndRef* ref);
    void DropOldest();

    TTextEncoding FEncoding;
    TPDFFontProgramCache* FCache;
    TPDFFontRecordCache* FRecords;
    // Ranges of the CMaps parsed from this page's streams (embedded Encoding and ToUnicode
    // maps read with CodesByCMap); past the bound further fonts keep their byte pairs.
    static constexpr std::size_t kMaxParsedCMapRanges = std::size_t{1} << 21;
    std::size_t FParsedCMapRanges = 0;
    std::vector<std::shared_ptr<const TPDFFontCollectionData>> FFonts;
    // The record the load under way appended last; changed only until its load ends.
    TPDFFontCollectionData* FLoaded = nullptr;
    // The estimated bytes of the embedded programs the load under way parsed or took.
    std::uint64_t FLoadedProgramBytes = 0;
    // Object number -> the first record selected under it.
    std::unordered_map<std::int32_t, const TPDFFontCollectionData*> FIndex;
    // Holder and name -> the record of a direct font dictionary.
    struct TDirectKeyHash {
        std::size_t operator()(const std::pair<const TPDFDictionary*, std::string>& key) const {
            return std::hash<const void*>()(key.first) ^
                   (std::hash<std::string>()(key.second) * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_map<std::pair<const TPDFDictionary*, std::string>, const TPDFFontCollectionData*,
                       TDirectKeyHash>
        FDirectIndex;
    const TPDFFontCollectionData* FCurrent = nullptr;
    TPDFFontCollectionData FNone;
};

} // namespace korvel
