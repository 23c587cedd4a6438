#pragma once
// Font programs and the font collection of text extraction.
//
// The program classes (TPDFFontRasterizer and its TrueType and Type 3 programs) hold what text
// takes from a font program: its built-in encoding, glyph names, widths and scale. The font
// collection (TPDFFontCollection) loads each font dictionary a page selects once, into a flat
// record of 256-entry tables (TPDFFontCollectionData) plus the CID width list and ToUnicode map
// of composite fonts; the text extractors read the record of the font selected last.
//
// Ownership: a collection owns its records; a record owns its CID width list and shares its
// program with the document's program cache (TPDFFontProgramCache, optional), which keeps
// parsed embedded programs across the pages of one document. Loading never throws: keys of
// the wrong kind are skipped, unreadable programs keep their defaults.

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
#include "fonts/uPDFCMap.h"
#include "fonts/uPDFFontConst.h"
#include "platform/uCodePage.h"

namespace korvel {

class TPDFTrueTypeParser;

class TPDFFontRasterizer {
public:
    using ResolveFn = TPDFStructure::ResolveFn;

    explicit TPDFFontRasterizer(ResolveFn resolver = {}) : Resolver(std::move(resolver)) {}
    virtual ~TPDFFontRasterizer() = default;
    TPDFFontRasterizer(const TPDFFontRasterizer&) = delete;
    TPDFFontRasterizer& operator=(const TPDFFontRasterizer&) = delete;

    // Draws one glyph. Text extraction never calls it, so programs that only serve text keep
    // this no-op.
    virtual void DrawGlyph(std::int32_t /*glyph*/) {}
    // The factor by which single-byte widths are divided; 1 for most programs.
    virtual double GetScale() const = 0;

    ResolveFn Resolver;
};

// A TrueType program: an embedded FontFile2, an installed substitute face or the built-in
// dingbats font. The parsed tables are immutable once read, so programs made from the same
// bytes (a substitute face, the dingbats font) share one parser.
class TPDFTrueTypeRasterizer2 : public TPDFFontRasterizer {
public:
    explicit TPDFTrueTypeRasterizer2(ResolveFn resolver = {});
    explicit TPDFTrueTypeRasterizer2(std::shared_ptr<const TPDFTrueTypeParser> parser,
                                     ResolveFn resolver = {});
    ~TPDFTrueTypeRasterizer2() override;

    // Reads the data into a parser of this program's own.
    void LoadTrueType(std::string_view data);
    const TPDFTrueTypeParser& Parser() const { return *FParser; }

    double GetScale() const override { return 1; }

private:
    std::shared_ptr<const TPDFTrueTypeParser> FParser;
};

// The program of a Type 3 font: its FontMatrix and the names of its glyph procedures. The
// procedures are never run for text, so their streams are decoded only when asked for.
class TPDFType3Rasterizer : public TPDFFontRasterizer {
public:
    // Reads FontMatrix and CharProcs of a Type 3 font dictionary (nullptr: defaults).
    explicit TPDFType3Rasterizer(const TPDFDictionary* font, ResolveFn resolver = {});

    double GetScale() const override { return 1; }

    // [1 0 0 1 0 0] unless the dictionary's FontMatrix is an array of exactly six elements;
    // then each element that is a number replaces its default.
    std::array<double, 6> FontMatrix{1, 0, 0, 1, 0, 0};
    // The CharProcs keys in dictionary order.
    std::vector<std::string> GlyphProcNames;
    // The decoded procedure of GlyphProcNames[index]; empty when its value is not an indirect
    // reference to a stream, or the index is out of range.
    std::string GlyphProc(std::size_t index) const;

private:
    std::vector<const TPDFStream*> FGlyphProcs; // parallel to GlyphProcNames; may hold nullptr
};

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

    // The object number of the reference the font was selected through; the cache key.
    std::int32_t ObjNum = 0;
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
};

// Embedded font programs parsed once per document: Type 1 (FontFile), CFF (FontFile3) and
// TrueType (FontFile2) programs by the identity of their stream (its object numbers, or its
// address for a stream made in memory) and its data version, so that
// later pages reuse what the first one parsed. A program is stored only while the stream is
// unchanged; a changed stream (decrypted in place, replaced) misses and is parsed afresh.
// The total estimated size is bounded; the least recently used programs go first. Programs
// handed out stay valid as long as someone holds them. Thread-safe.
class TPDFFontProgramCache {
public:
    // Parsed programs of a document rarely take more than a few MB; past this the least
    // recently used ones are dropped, so a file of many large fonts cannot pile them up.
    static constexpr std::uint64_t kDefaultBudget = std::uint64_t{32} << 20;

    enum class TProgramKind : std::uint8_t { Type1, CFF, TrueType };
    struct TKey {
        const TPDFStream* Stream = nullptr;
        std::uint64_t DataVersion = 0;
        std::size_t RawSize = 0;
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
        TProgramKind Kind = TProgramKind::Type1;
        // Type 1 only: Length1..3 as read from the stream dictionary.
        std::array<std::int64_t, 3> Lengths{};
        friend bool operator==(const TKey&, const TKey&) = default;
    };
    // The key of a stream read as a program of this kind.
    static TKey KeyOf(const TPDFStream* stream, TProgramKind kind,
                      std::array<std::int64_t, 3> lengths = {});

    explicit TPDFFontProgramCache(std::uint64_t budget = kDefaultBudget) : FBudget(budget) {}

    // nullopt on a miss; a stored nullptr is a stream that yields no program (an empty
    // FontFile2).
    std::optional<std::shared_ptr<const TPDFFontRasterizer>> Find(const TKey& key);
    // Stores a program with its estimated size in bytes; a program larger than the whole
    // budget is not stored.
    void Insert(const TKey& key, std::shared_ptr<const TPDFFontRasterizer> program,
                std::uint64_t size);
    void Clear();

    std::size_t Count() const;
    std::uint64_t Bytes() const;
    std::uint64_t Hits() const;
    std::uint64_t Misses() const;

private:
    struct TKeyHash {
        std::size_t operator()(const TKey& key) const noexcept;
    };
    struct TEntry {
        TKey Key;
        std::shared_ptr<const TPDFFontRasterizer> Program;
        std::uint64_t Size = 0;
    };
    mutable std::mutex FLock;
    std::uint64_t FBudget;
    std::uint64_t FBytes = 0;
    std::uint64_t FHits = 0;
    std::uint64_t FMisses = 0;
    std::list<TEntry> FEntries; // most recently used first
    std::unordered_map<TKey, std::list<TEntry>::iterator, TKeyHash> FIndex;
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

    // Text comes out in `encoding`; embedded programs come from `cache` when one is given.
    explicit TPDFFontCollection(TTextEncoding encoding = TTextEncoding::Cp1252,
                                TPDFFontProgramCache* cache = nullptr);
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

    const std::vector<std::unique_ptr<TPDFFontCollectionData>>& Fonts() const { return FFonts; }
    TTextEncoding Encoding() const { return FEncoding; }
    TPDFFontProgramCache* ProgramCache() const { return FCache; }

    // Resolves references while loading; unset, references resolve through their store.
    // Programs are taken from the cache only while it is unset (a cached program carries no
    // resolver of its own).
    ResolveFn Resolver;
    // Whether font programs are made; false leaves every font without a program except CFF
    // ones (FontFile3). Text extraction sets it right after construction.
    bool LoadPrograms = false;

private:
    class TLoader;
    void LoadFont(const TPDFIndRef* ref);
    void DropOldest();

    TTextEncoding FEncoding;
    TPDFFontProgramCache* FCache;
    std::vector<std::unique_ptr<TPDFFontCollectionData>> FFonts;
    // Object number -> the first record selected under it.
    std::unordered_map<std::int32_t, TPDFFontCollectionData*> FIndex;
    const TPDFFontCollectionData* FCurrent = nullptr;
    TPDFFontCollectionData FNone;
};

} // namespace korvel
