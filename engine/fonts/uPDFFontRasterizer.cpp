#include "fonts/uPDFFontRasterizer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>

#include "fonts/uPDFDingbats.h"
#include "fonts/uPDFSystemFont.h"
#include "fonts/uPDFTrueTypeParser.h"
#include "fonts/uPDFType1.h"
#include "platform/uInstalledFonts.h"

namespace korvel {

namespace {

// FontDescriptor flag bit of symbolic fonts (their codes are no standard Latin encoding).
constexpr std::int32_t kSymbolic = 4;

std::uint64_t namesSize(const std::vector<std::string>& names) {
    std::uint64_t size = names.size() * sizeof(std::string);
    for (const std::string& name : names)
        size += name.size();
    return size;
}

std::uint64_t programSize(const TPDFType1Decoder& program) {
    std::uint64_t size = sizeof(program) + program.ClearText.size() + program.EncryptedPart.size() +
                         program.Trailer.size() + namesSize(program.GlyphNames);
    for (const std::string& name : program.BuiltInEncoding)
        size += name.size();
    return size;
}

std::uint64_t parserSize(const TPDFTrueTypeParser& parser) {
    return sizeof(parser) + namesSize(parser.GlyphNames()) + 2 * parser.GlyphNames().size() +
           2 * parser.AdvanceWidths().size() +
           parser.Directory().size() * sizeof(TPDFTTDirectoryEntry);
}

// The parsed face of an installed font, made once per process for each data object the
// installed-font service hands out (it hands out one per family and style). The entry keeps
// the bytes alive, so a key is never reused for other data.
std::shared_ptr<const TPDFTrueTypeParser>
installedFace(const std::shared_ptr<const std::string>& data) {
    static const auto noFace = std::make_shared<const TPDFTrueTypeParser>();
    if (!data)
        return noFace;
    struct TFace {
        std::shared_ptr<const std::string> Data;
        std::once_flag Once;
        std::shared_ptr<const TPDFTrueTypeParser> Parser;
    };
    static std::mutex lock;
    static std::unordered_map<const std::string*, std::shared_ptr<TFace>> faces;
    std::shared_ptr<TFace> face;
    {
        const std::lock_guard<std::mutex> guard(lock);
        std::shared_ptr<TFace>& slot = faces[data.get()];
        if (!slot) {
            slot = std::make_shared<TFace>();
            slot->Data = data;
        }
        face = slot;
    }
    // Parsed outside the lock, so that faces parse in parallel; later callers wait here.
    std::call_once(face->Once, [&face] {
        auto parser = std::make_shared<TPDFTrueTypeParser>();
        parser->LoadTrueType(*face->Data);
        face->Parser = std::move(parser);
    });
    return face->Parser;
}

const std::shared_ptr<const TPDFTrueTypeParser>& dingbatsFace() {
    static const std::shared_ptr<const TPDFTrueTypeParser> face = [] {
        auto parser = std::make_shared<TPDFTrueTypeParser>();
        parser->LoadTrueType(BuiltInDingbatsFont());
        return parser;
    }();
    return face;
}

// The tables most fonts end up with, computed once per process: the names of each base
// encoding, their text in each encoding, and the standard fonts' widths over them. A font
// whose glyph names are a base encoding unchanged copies these instead of recomputing them.
constexpr std::size_t kEncodingKinds = 5;

std::size_t kindIndex(TPDFBaseEncoding kind) {
    return static_cast<std::size_t>(kind);
}

const TPDFGlyphNames& baseNames(TPDFBaseEncoding kind) {
    static const std::array<TPDFGlyphNames, kEncodingKinds> names = [] {
        std::array<TPDFGlyphNames, kEncodingKinds> all;
        for (std::size_t k = 0; k < kEncodingKinds; ++k)
            all[k] = BaseEncodingNames(static_cast<TPDFBaseEncoding>(k));
        return all;
    }();
    return names[kindIndex(kind)];
}

const TPDFTextVector& baseText(TPDFBaseEncoding kind, TTextEncoding encoding) {
    static const std::array<std::array<TPDFTextVector, 2>, kEncodingKinds> text = [] {
        std::array<std::array<TPDFTextVector, 2>, kEncodingKinds> all;
        for (std::size_t k = 0; k < kEncodingKinds; ++k) {
            all[k][0] = GlyphNamesToText(baseNames(TPDFBaseEncoding(k)), TTextEncoding::Cp1252);
            all[k][1] = GlyphNamesToText(baseNames(TPDFBaseEncoding(k)), TTextEncoding::Utf8);
        }
        return all;
    }();
    return text[kindIndex(kind)][encoding == TTextEncoding::Utf8 ? 1 : 0];
}

// StandardFontWidths of a standard font (1..13) over a base encoding's names, from 750.
const TPDFWidths& standardWidths(int index, TPDFBaseEncoding kind) {
    constexpr std::size_t kFonts = kStandardSymbolIndex;
    static std::array<std::once_flag, kFonts * kEncodingKinds> once;
    static std::array<TPDFWidths, kFonts * kEncodingKinds> widths;
    const std::size_t slot = static_cast<std::size_t>(index - 1) * kEncodingKinds + kindIndex(kind);
    std::call_once(once[slot], [&] {
        widths[slot].fill(750);
        StandardFontWidths(index, baseNames(kind), widths[slot]);
    });
    return widths[slot];
}

bool allEmpty(const TPDFTextVector& text) {
    return std::all_of(text.begin(), text.end(), [](const std::string& t) { return t.empty(); });
}

std::uint64_t heapSize(const std::string& text) {
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

std::uint64_t tableSize(const std::array<std::string, 256>& table) {
    std::uint64_t size = 0;
    for (const std::string& text : table)
        size += heapSize(text);
    return size;
}

} // namespace

// -------------------------------------------------------------------------------------------------
// CID widths

void TPDFCIDWidths::Add(std::int32_t first, std::int32_t last, std::int32_t width) {
    if (last >= first)
        FRanges.push_back({first, last, width});
}

void TPDFCIDWidths::Finish() {
    // Each range contributes the parts of it no earlier range covers. `covered` is the union
    // of the ranges so far as disjoint intervals; every interval a range overlaps is merged
    // into one, so each is visited once before it disappears and the whole is O(n log n).
    FSegments.clear();
    std::map<std::int64_t, std::int64_t> covered; // first -> last
    for (const TRange& range : FRanges) {
        const std::int64_t first = range.First;
        const std::int64_t last = range.Last;
        auto it = covered.upper_bound(first);
        if (it != covered.begin() && std::prev(it)->second >= first)
            --it;
        std::int64_t next = first; // the first CID of the range not yet placed
        std::int64_t mergedFirst = first;
        std::int64_t mergedLast = last;
        while (it != covered.end() && it->first <= last) {
            if (it->first > next)
                FSegments.push_back({static_cast<std::int32_t>(next),
                                     static_cast<std::int32_t>(it->first - 1), range.Width});
            next = std::max(next, it->second + 1);
            mergedFirst = std::min(mergedFirst, it->first);
            mergedLast = std::max(mergedLast, it->second);
            it = covered.erase(it);
        }
        if (next <= last)
            FSegments.push_back(
                {static_cast<std::int32_t>(next), static_cast<std::int32_t>(last), range.Width});
        covered.emplace(mergedFirst, mergedLast);
    }
    std::sort(FSegments.begin(), FSegments.end(),
              [](const TRange& a, const TRange& b) { return a.First < b.First; });
}

std::optional<std::int32_t> TPDFCIDWidths::Find(std::int64_t cid) const {
    const auto it = std::upper_bound(FSegments.begin(), FSegments.end(), cid,
                                     [](std::int64_t c, const TRange& s) { return c < s.First; });
    if (it == FSegments.begin())
        return std::nullopt;
    const TRange& segment = *std::prev(it);
    if (cid > segment.Last)
        return std::nullopt;
    return segment.Width;
}

// -------------------------------------------------------------------------------------------------
// Record cache

namespace {

// Whether a record may outlive the page it was loaded for: it holds no pointer to the page's
// objects.
bool Shareable(const TPDFFontCollectionData& record) {
    return record.CIDToGIDMapStream == nullptr &&
           dynamic_cast<const TPDFType3Rasterizer*>(record.Program.get()) == nullptr;
}

// The estimated bytes of a record's own tables and maps (its program not included).
std::uint64_t EstimatedSize(const TPDFFontCollectionData& record) {
    std::uint64_t size = sizeof(record) + tableSize(record.CodeText) + tableSize(record.Text) +
                         tableSize(record.GlyphNames) + heapSize(record.FontName) +
                         record.ToUnicode.Count() * (sizeof(TPDFCMapRange) + 16);
    if (record.CIDWidths)
        size += sizeof(TPDFCIDWidths) +
                2 * record.CIDWidths->Ranges().size() * sizeof(TPDFCIDWidths::TRange);
    // Predefined CMaps and collections are the library's; embedded ones are the record's.
    if (record.CodeMap)
        size += record.CodeMap->Size() * 16;
    if (record.CodeUnicode)
        size += record.CodeUnicode->Size() * 16;
    return size;
}

} // namespace

std::size_t TPDFFontRecordCache::TKeyHash::operator()(const TKey& key) const noexcept {
    const std::uint64_t numbers = static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.ObjNum))
                                      << 32 |
                                  static_cast<std::uint32_t>(key.GenNum);
    return std::hash<std::uint64_t>{}(numbers ^ (std::uint64_t{key.Settings} * 0x9e3779b97f4a7c15));
}

std::string TPDFFontCollectionData::CIDToGIDMap() const {
    return CIDToGIDMapStream ? CIDToGIDMapStream->DecodedData() : std::string();
}

// -------------------------------------------------------------------------------------------------
// Loading one font

// The working state of one font load and the steps that fill it. A load appends exactly one
// record to the collection (the descendant's, for a composite font).
//
// Load reads what every font has (BaseFont, Encoding), runs the step of the font's Subtype,
// then, for all but composite fonts, completes the glyph names and widths and stores the
// record; the text of the codes comes last, for every kind.
class TPDFFontCollection::TLoader {
public:
    explicit TLoader(TPDFFontCollection& owner) : FOwner(owner) {}

    // Loads `font` (nullptr: an empty font dictionary); `depth` is 1 inside a descendant.
    void Load(const TPDFDictionary* font, std::int32_t objNum, int depth);

private:
    TPDFObject* resolve(TPDFObject* value) const {
        return ResolveFontValue(FOwner.Resolver, value);
    }
    TPDFObject* get(const TPDFDictionary* dict, std::string_view key) const {
        return dict ? resolve(dict->Get(key, false)) : nullptr;
    }
    std::int32_t integer(const TPDFDictionary* dict, std::string_view key,
                         std::int32_t otherwise) const {
        return FontInteger(FOwner.Resolver, dict, key, otherwise);
    }
    bool useCache() const { return FOwner.FCache != nullptr && !FOwner.Resolver; }
    bool loadPrograms() const { return FOwner.LoadPrograms; }

    // The steps of Load, in their order.
    void readEncoding();
    // One step per Subtype; fonts of any other subtype have none.
    void loadType1();
    void loadStandardFont();
    void loadTrueType();
    void loadType3();
    void loadType0();
    void loadSubstitute();
    void completeSimpleFont();
    void readSimpleWidths();
    TPDFFontCollectionData* storeSimpleFont(std::int32_t objNum);
    TPDFFontCollectionData* markComposite();
    void readText(TPDFFontCollectionData& record) const;
    void readCodeMap(TPDFFontCollectionData& record) const;

    std::shared_ptr<const TPDFType1Decoder> type1Program(const TPDFStream* stream) const;
    std::shared_ptr<const TPDFType1Decoder> cffProgram(const TPDFStream* stream) const;
    // The program of a FontFile2 stream; nullptr when its decoded data is empty.
    std::shared_ptr<const TPDFFontRasterizer> trueTypeProgram(const TPDFStream* stream) const;
    std::shared_ptr<const TPDFTrueTypeParser> substitute(std::int32_t flags) const;
    std::unique_ptr<TPDFCIDWidths> cidWidths(const TPDFDictionary* font) const;
    void readDescriptor(const TPDFDictionary* descriptor);
    void useBuiltInEncoding(const TPDFType1Decoder& program);
    void useSymbolicCodes();

    TPDFFontCollection& FOwner;
    // What is loaded: the font dictionary (may be nullptr), its BaseFont and Subtype, and
    // whether it is a descendant (depth 1).
    const TPDFDictionary* FFont = nullptr;
    const TPDFName* FBaseFont = nullptr;
    std::string FSubtype;
    int FDepth = 0;
    // The working state of the load.
    TPDFGlyphNames FNames;
    TPDFWidths FWidths{};
    TPDFTextVector FCodeText;
    bool FCodeTextSet = false;
    std::string FFontName = "Arial";
    std::shared_ptr<const TPDFFontRasterizer> FProgram;
    std::int32_t FFlags = 0;
    double FAscent = 0;
    double FDescent = 0;
    bool FHasBaseEncodingName = false;
    const TPDFArray* FDifferences = nullptr;
    int FStandardIndex = 0;
    // A standard font other than the dingbats: its program is its standard substitute.
    bool FStandardSubstitute = false;
    bool FToUnicodeOnly = false;
    // Set while the glyph names are those of this base encoding, unchanged.
    std::optional<TPDFBaseEncoding> FPristine;
    // The widths of the dictionary: a CIDFont's list, else FirstChar and LastChar.
    std::unique_ptr<TPDFCIDWidths> FCIDWidths;
    std::int32_t FFirstChar = 0;
    std::int32_t FLastChar = 0;
    const TPDFStream* FCIDToGIDMap = nullptr;
    // The descendant of a composite font.
    const TPDFDictionary* FDescendant = nullptr;
};

std::shared_ptr<const TPDFType1Decoder>
TPDFFontCollection::TLoader::type1Program(const TPDFStream* stream) const {
    const TPDFDictionary* dict = stream->Dictionary();
    const std::array<std::int64_t, 3> lengths = {
        integer(dict, "Length1", 0), integer(dict, "Length2", 0), integer(dict, "Length3", 0)};
    const auto key =
        TPDFFontProgramCache::KeyOf(stream, TPDFFontProgramCache::TProgramKind::Type1, lengths);
    if (useCache())
        if (const auto hit = FOwner.FCache->Find(key))
            if (auto program = std::dynamic_pointer_cast<const TPDFType1Decoder>(*hit)) {
                FOwner.FLoadedProgramBytes += programSize(*program);
                return program;
            }
    auto program = std::make_shared<TPDFType1Decoder>(FOwner.Resolver);
    program->LoadType1(stream->DecodedData(), lengths[0], lengths[1], lengths[2]);
    const std::uint64_t size = programSize(*program);
    FOwner.FLoadedProgramBytes += size;
    if (useCache())
        FOwner.FCache->Insert(key, program, size);
    return program;
}

std::shared_ptr<const TPDFType1Decoder>
TPDFFontCollection::TLoader::cffProgram(const TPDFStream* stream) const {
    const auto key = TPDFFontProgramCache::KeyOf(stream, TPDFFontProgramCache::TProgramKind::CFF);
    if (useCache())
        if (const auto hit = FOwner.FCache->Find(key))
            if (auto program = std::dynamic_pointer_cast<const TPDFType1Decoder>(*hit)) {
                FOwner.FLoadedProgramBytes += programSize(*program);
                return program;
            }
    auto program = std::make_shared<TPDFType1Decoder>(FOwner.Resolver);
    program->LoadCFF(stream->DecodedData());
    const std::uint64_t size = programSize(*program);
    FOwner.FLoadedProgramBytes += size;
    if (useCache())
        FOwner.FCache->Insert(key, program, size);
    return program;
}

std::shared_ptr<const TPDFFontRasterizer>
TPDFFontCollection::TLoader::trueTypeProgram(const TPDFStream* stream) const {
    const auto key =
        TPDFFontProgramCache::KeyOf(stream, TPDFFontProgramCache::TProgramKind::TrueType);
    if (useCache())
        if (const auto hit = FOwner.FCache->Find(key)) {
            std::uint64_t size = sizeof(TPDFTrueTypeRasterizer2);
            if (const auto* program = dynamic_cast<const TPDFTrueTypeRasterizer2*>(hit->get()))
                size += parserSize(program->Parser());
            FOwner.FLoadedProgramBytes += size;
            return *hit;
        }
    const std::string data = stream->DecodedData();
    std::shared_ptr<TPDFTrueTypeRasterizer2> program;
    std::uint64_t size = sizeof(TPDFTrueTypeRasterizer2);
    if (!data.empty()) {
        program = std::make_shared<TPDFTrueTypeRasterizer2>(FOwner.Resolver);
        program->LoadTrueType(data);
        size += parserSize(program->Parser());
    }
    FOwner.FLoadedProgramBytes += size;
    if (useCache())
        FOwner.FCache->Insert(key, program, size);
    return program;
}

std::shared_ptr<const TPDFTrueTypeParser>
TPDFFontCollection::TLoader::substitute(std::int32_t flags) const {
    return installedFace(SystemSubstitute(FFontName, flags, InstalledFonts()).Data);
}

std::unique_ptr<TPDFCIDWidths>
TPDFFontCollection::TLoader::cidWidths(const TPDFDictionary* font) const {
    auto widths = std::make_unique<TPDFCIDWidths>();
    widths->DW = integer(font, "DW", 1000);
    if (const TPDFArray* w = AsArray(get(font, "W"))) {
        const int count = w->Count();
        // Entries are either `c l w` (a range of one width) or `c [w0 w1 ...]`; the first
        // element that fits neither ends the reading.
        for (int i = 0; i < count - 1;) {
            const auto* first = Cast<TPDFNumeric>(w->Item(i));
            if (!first)
                break;
            const std::int32_t c = first->IntValue();
            TPDFObject* next = resolve(w->Item(i + 1));
            if (const auto* last = Cast<TPDFNumeric>(next)) {
                const auto* width = i < count - 2 ? Cast<TPDFNumeric>(w->Item(i + 2)) : nullptr;
                if (!width)
                    break;
                widths->Add(c, last->IntValue(), width->IntValue());
                i += 3;
            } else if (const TPDFArray* list = AsArray(next)) {
                for (int k = 0; k < list->Count(); ++k) {
                    const std::int64_t cid = std::int64_t{c} + k;
                    if (cid > std::numeric_limits<std::int32_t>::max())
                        break;
                    if (const auto* width = Cast<TPDFNumeric>(list->Item(k)))
                        widths->Add(static_cast<std::int32_t>(cid), static_cast<std::int32_t>(cid),
                                    width->IntValue());
                }
                i += 2;
            } else {
                break;
            }
        }
    }
    widths->Finish();
    return widths;
}

void TPDFFontCollection::TLoader::readDescriptor(const TPDFDictionary* descriptor) {
    if (const auto* ascent = Cast<TPDFNumeric>(get(descriptor, "Ascent")))
        FAscent = ascent->IntValue();
    if (const auto* descent = Cast<TPDFNumeric>(get(descriptor, "Descent")))
        FDescent = descent->IntValue();
    FFlags = integer(descriptor, "Flags", 0);
}

void TPDFFontCollection::TLoader::useBuiltInEncoding(const TPDFType1Decoder& program) {
    if (!FHasBaseEncodingName || (FFlags & kSymbolic) != 0) {
        FNames = program.BuiltInEncoding;
        FPristine.reset();
    }
}

void TPDFFontCollection::TLoader::useSymbolicCodes() {
    // A symbolic embedded font's codes select glyphs, not characters: its text comes from its
    // ToUnicode map alone.
    if (FDifferences) {
        ApplyDifferences(FNames, FDifferences);
        FPristine.reset();
    }
    FCodeText = FPristine ? baseText(*FPristine, FOwner.FEncoding)
                          : GlyphNamesToText(FNames, FOwner.FEncoding, FOwner.GlyphNamesAsText);
    FCodeTextSet = true;
    FToUnicodeOnly = true;
    for (std::size_t c = 0; c < FNames.size(); ++c)
        FNames[c] = "CID:" + std::to_string(c);
    FDifferences = nullptr;
    FPristine.reset();
}

void TPDFFontCollection::TLoader::readEncoding() {
    // A base encoding by name, possibly with Differences.
    TPDFBaseEncoding kind = TPDFBaseEncoding::Standard;
    TPDFObject* encodingValue = get(FFont, "Encoding");
    if (const TPDFName* name = AsName(encodingValue)) {
        kind = EncodingKindOfName(name->Value());
        FHasBaseEncodingName = true;
    } else if (const TPDFDictionary* dict = AsDictionary(encodingValue)) {
        if (const TPDFName* base = AsName(get(dict, "BaseEncoding"))) {
            kind = EncodingKindOfName(base->Value());
            FHasBaseEncodingName = true;
        }
        FDifferences = AsArray(get(dict, "Differences"));
    }
    FNames = baseNames(kind);
    FPristine = kind;
}

// Type1 and CIDFontType0: an embedded Type 1 or CFF program, else a standard font by name.
void TPDFFontCollection::TLoader::loadType1() {
    if (const TPDFDictionary* descriptor = AsDictionary(get(FFont, "FontDescriptor"))) {
        readDescriptor(descriptor);
        if (const TPDFStream* file = AsStream(get(descriptor, "FontFile"));
            file && loadPrograms()) {
            const auto program = type1Program(file);
            FProgram = program;
            useBuiltInEncoding(*program);
        }
        if (const TPDFStream* file = AsStream(get(descriptor, "FontFile3"))) {
            const auto program = cffProgram(file);
            FProgram = program;
            useBuiltInEncoding(*program);
        }
    } else if (FBaseFont) {
        loadStandardFont();
    }
}

// One of the 14 standard fonts: its metrics, its substitute's name and program.
void TPDFFontCollection::TLoader::loadStandardFont() {
    FStandardIndex = MatchStandardFont(FBaseFont->Value());
    const TPDFStandardFont* row = StandardFontRow(FStandardIndex);
    if (!row)
        return;
    FAscent = row->Ascent;
    FDescent = row->Descent;
    if (FStandardIndex == kStandardDingbatsIndex) {
        FFontName = "VantrelDingbats";
        if (loadPrograms())
            FProgram = std::make_shared<TPDFTrueTypeRasterizer2>(dingbatsFace(), FOwner.Resolver);
    } else {
        FFontName = std::string(row->SubstituteName);
        if (loadPrograms() && FOwner.StandardPrograms)
            FProgram = std::make_shared<TPDFTrueTypeRasterizer2>(substitute(0), FOwner.Resolver);
        // Without its program the font still takes no other substitute.
        FStandardSubstitute = true;
    }
}

// TrueType and CIDFontType2: an embedded TrueType program.
void TPDFFontCollection::TLoader::loadTrueType() {
    const TPDFDictionary* descriptor = AsDictionary(get(FFont, "FontDescriptor"));
    if (!descriptor)
        return;
    readDescriptor(descriptor);
    const TPDFStream* file = AsStream(get(descriptor, "FontFile2"));
    if (!file)
        return;
    // Without programs only the emptiness of the data matters.
    std::shared_ptr<const TPDFFontRasterizer> program;
    const bool hasData = loadPrograms() ? (program = trueTypeProgram(file)) != nullptr
                                        : !file->DecodedData().empty();
    if (!hasData)
        return;
    FProgram = program;
    if ((FFlags & kSymbolic) != 0)
        useSymbolicCodes();
}

void TPDFFontCollection::TLoader::loadType3() {
    if (loadPrograms())
        FProgram = std::make_shared<TPDFType3Rasterizer>(FFont, FOwner.Resolver);
}

// A composite font: loads its descendant, whose record becomes the font's.
void TPDFFontCollection::TLoader::loadType0() {
    // One descendant, given by reference or directly; anything else loads an empty
    // descendant, so that this load still appends one record.
    const TPDFArray* descendants = AsArray(get(FFont, "DescendantFonts"));
    const TPDFIndRef* ref =
        descendants && descendants->Count() == 1 ? AsRef(descendants->Item(0)) : nullptr;
    FDescendant = descendants && descendants->Count() == 1
                      ? AsDictionary(resolve(descendants->Item(0)))
                      : nullptr;
    TLoader(FOwner).Load(FDescendant, ref ? ref->RefObjNum() : 0, FDepth + 1);
}

// A font its step gave no program: an installed substitute, whose glyphs give the default
// widths by the glyph names before Differences.
void TPDFFontCollection::TLoader::loadSubstitute() {
    auto face = substitute(FFlags);
    for (std::size_t c = 0; c < FNames.size(); ++c)
        if (const std::int32_t glyph = face->GlyphIndexOfName(FNames[c]); glyph >= 0)
            FWidths[c] = face->AdvanceWidth(glyph);
    FProgram = std::make_shared<TPDFTrueTypeRasterizer2>(std::move(face), FOwner.Resolver);
}

// The glyph names and widths of a font that is not composite, once its step ran.
void TPDFFontCollection::TLoader::completeSimpleFont() {
    const TTextEncoding encoding = FOwner.FEncoding;
    if (!FProgram && !FStandardSubstitute && loadPrograms())
        loadSubstitute();
    if (FDifferences) {
        ApplyDifferences(FNames, FDifferences);
        FPristine.reset();
    }
    if (FStandardIndex >= 1 && FStandardIndex < kStandardDingbatsIndex) {
        if (FPristine)
            FWidths = standardWidths(FStandardIndex, *FPristine);
        else
            StandardFontWidths(FStandardIndex, FNames, FWidths);
    }
    if (!FCodeTextSet)
        FCodeText = FPristine ? baseText(*FPristine, encoding)
                              : GlyphNamesToText(FNames, encoding, FOwner.GlyphNamesAsText);
    readSimpleWidths();
}

// The widths of the dictionary, over those the program or the standard metrics gave.
void TPDFFontCollection::TLoader::readSimpleWidths() {
    if (FSubtype == "CIDFontType0" || FSubtype == "CIDFontType2") {
        FCIDWidths = cidWidths(FFont);
        if (FSubtype == "CIDFontType2")
            FCIDToGIDMap = AsStream(get(FFont, "CIDToGIDMap"));
        return;
    }
    const auto* first = Cast<TPDFNumeric>(get(FFont, "FirstChar"));
    if (!first)
        return;
    FFirstChar = first->IntValue();
    const auto* last = Cast<TPDFNumeric>(get(FFont, "LastChar"));
    if (!last)
        return;
    FLastChar = std::min(last->IntValue(), 255);
    if (const TPDFArray* widths = AsArray(get(FFont, "Widths"))) {
        // Bounded by the array and by LastChar; codes below 0 are passed over.
        for (int t = 0; t < widths->Count(); ++t) {
            const std::int64_t code = std::int64_t{FFirstChar} + t;
            if (code > FLastChar)
                break;
            if (code >= 0)
                FWidths[static_cast<std::size_t>(code)] = AsNumber(widths->Item(t), 0);
        }
    }
}

TPDFFontCollectionData* TPDFFontCollection::TLoader::storeSimpleFont(std::int32_t objNum) {
    static std::atomic<std::uint64_t> serials{0};
    auto made = std::make_shared<TPDFFontCollectionData>();
    TPDFFontCollectionData* record = made.get();
    record->Serial = ++serials;
    record->ObjNum = objNum;
    record->Widths = FWidths;
    record->CodeText = std::move(FCodeText);
    record->FontName = std::move(FFontName);
    record->Program = std::move(FProgram);
    record->GlyphNames = std::move(FNames);
    record->CIDWidths = std::move(FCIDWidths);
    record->Ascent = FAscent;
    record->Descent = FDescent;
    record->FirstChar = FFirstChar;
    record->LastChar = FLastChar;
    record->CIDToGIDMapStream = FCIDToGIDMap;
    FOwner.FFonts.push_back(std::move(made));
    FOwner.FLoaded = record;
    return record;
}

TPDFFontCollectionData* TPDFFontCollection::TLoader::markComposite() {
    TPDFFontCollectionData* record = FOwner.FLoaded; // the descendant's, just now
    record->IsTwoByte = 1;
    FToUnicodeOnly = true;
    return record;
}

void TPDFFontCollection::TLoader::readText(TPDFFontCollectionData& record) const {
    const TTextEncoding encoding = FOwner.FEncoding;
    if (FToUnicodeOnly) {
        if (FFont && FFont->Get("ToUnicode", false) != nullptr) {
            const TPDFStream* stream = AsStream(get(FFont, "ToUnicode"));
            record.ToUnicode = ParseToUnicode(stream ? stream->DecodedData() : std::string());
            record.Text = ToUnicodeTable(record.ToUnicode, encoding);
            record.CodeText = record.Text;
        } else {
            record.Text = record.CodeText;
        }
    } else {
        // Without the mark CodeText is still the text of the record's glyph names.
        record.Text = record.CodeText;
        if (const TPDFStream* stream = AsStream(get(FFont, "ToUnicode"))) {
            record.ToUnicode = ParseToUnicode(stream->DecodedData());
            record.Text = ToUnicodeOverlay(record.ToUnicode, record.Text, encoding);
            record.CodeText = record.Text;
        }
    }
    // A font whose codes have no text at all shows its codes as characters.
    if (allEmpty(record.Text)) {
        for (std::size_t c = 0; c < record.Text.size(); ++c) {
            std::string& text = record.Text[c];
            if (encoding == TTextEncoding::Utf8)
                AppendUtf8(text, Cp1252ToUnicode(static_cast<unsigned char>(c)));
            else
                text.assign(1, static_cast<char>(c));
        }
    }
}

// The Encoding CMap of a composite font and the maps its codes take to text through; without
// a readable Encoding CMap the font keeps its byte pairs.
void TPDFFontCollection::TLoader::readCodeMap(TPDFFontCollectionData& record) const {
    std::size_t& parsed = FOwner.FParsedCMapRanges;
    if (parsed >= kMaxParsedCMapRanges)
        return;
    TPDFObject* encoding = get(FFont, "Encoding");
    if (const TPDFName* name = AsName(encoding)) {
        record.CodeMap = TPDFCMapLibrary::Predefined(name->Value());
    } else if (const TPDFStream* stream = AsStream(encoding)) {
        std::string data;
        if (const TPDFName* use = AsName(get(stream->Dictionary(), "UseCMap")))
            data = "/" + use->Value() + " usecmap\n";
        data += stream->DecodedData();
        record.CodeMap = TPDFCMapLibrary::Embedded(data);
        parsed += record.CodeMap ? record.CodeMap->Size() : 0;
    }
    if (!record.CodeMap)
        return;
    if (const TPDFStream* toUnicode = AsStream(get(FFont, "ToUnicode"))) {
        record.CodeUnicode = TPDFCMapLibrary::ToUnicode(toUnicode->DecodedData());
        parsed += record.CodeUnicode->Size();
    }
    const TPDFDictionary* info = AsDictionary(get(FDescendant, "CIDSystemInfo"));
    const auto* registry = Cast<TPDFString>(get(info, "Registry"));
    const auto* ordering = Cast<TPDFString>(get(info, "Ordering"));
    if (registry && ordering && registry->Value == "Adobe")
        record.CIDUnicode = TPDFCMapLibrary::Collection(ordering->Value);
    if (const TPDFArray* dw2 = AsArray(get(FDescendant, "DW2")); dw2 && dw2->Count() == 2) {
        const double w1 = AsNumber(resolve(dw2->Item(1)), -1000);
        if (std::isfinite(w1) && std::fabs(w1) <= 10000)
            record.VerticalAdvance = -w1;
    }
}

void TPDFFontCollection::TLoader::Load(const TPDFDictionary* font, std::int32_t objNum, int depth) {
    using TStep = void (TLoader::*)();
    struct TSubtypeStep {
        std::string_view Subtype;
        TStep Step;
    };
    static constexpr TSubtypeStep kSteps[] = {
        {"Type1", &TLoader::loadType1},       {"CIDFontType0", &TLoader::loadType1},
        {"TrueType", &TLoader::loadTrueType}, {"CIDFontType2", &TLoader::loadTrueType},
        {"Type3", &TLoader::loadType3},       {"Type0", &TLoader::loadType0},
    };

    FFont = font;
    FDepth = depth;
    FWidths.fill(750);
    FBaseFont = AsName(get(font, "BaseFont"));
    if (FBaseFont)
        FFontName = FBaseFont->Value();
    readEncoding();

    // A descendant is never followed further: inside one, a Type0 counts as a font of unknown
    // subtype.
    const TPDFName* subtypeName = AsName(get(font, "Subtype"));
    FSubtype = subtypeName ? subtypeName->Value() : std::string();
    if (FSubtype == "Type0" && depth > 0)
        FSubtype.clear();
    for (const TSubtypeStep& step : kSteps)
        if (FSubtype == step.Subtype) {
            (this->*step.Step)();
            break;
        }

    TPDFFontCollectionData* record = nullptr;
    if (FSubtype == "Type0") {
        record = markComposite();
    } else {
        completeSimpleFont();
        record = storeSimpleFont(objNum);
    }
    readText(*record);
    if (FSubtype == "Type0" && FOwner.CodesByCMap)
        readCodeMap(*record);
}

// -------------------------------------------------------------------------------------------------
// Collection

TPDFFontCollection::TPDFFontCollection(TTextEncoding encoding, TPDFFontProgramCache* cache,
                                       TPDFFontRecordCache* records)
    : FEncoding(encoding), FCache(cache), FRecords(records) {}

TPDFFontCollection::~TPDFFontCollection() = default;

void TPDFFontCollection::LoadFont(const TPDFIndRef* ref) {
    const TPDFDictionary* font = AsDictionary(ResolveFontRef(Resolver, ref));
    TLoader(*this).Load(font, ref->RefObjNum(), 0);
}

std::uint32_t TPDFFontCollection::Settings() const {
    return static_cast<std::uint32_t>(FEncoding) << 4 | (StandardPrograms ? 8u : 0u) |
           (LoadPrograms ? 4u : 0u) | (GlyphNamesAsText ? 2u : 0u) | (CodesByCMap ? 1u : 0u);
}

void TPDFFontCollection::AddRecord(const TPDFIndRef* ref) {
    const std::int32_t objNum = ref->RefObjNum();
    // A record loaded under a resolver of the caller's may differ from one resolved through
    // the store; a reference without a number names no object of the file.
    const bool shared = FRecords != nullptr && !Resolver && objNum > 0;
    const TPDFFontRecordCache::TKey key{objNum, ref->RefGenNum(), Settings()};
    const bool boundReached = FParsedCMapRanges >= kMaxParsedCMapRanges;
    if (shared)
        if (auto hit = FRecords->Find(key); hit && !(hit->ReadCMaps && boundReached)) {
            FParsedCMapRanges += hit->CMapRanges;
            FFonts.push_back(std::move(hit->Record));
            return;
        }
    const std::size_t parsedBefore = FParsedCMapRanges;
    FLoadedProgramBytes = 0;
    LoadFont(ref);
    TPDFFontCollectionData* record = FLoaded;
    record->ObjNum = objNum;
    FLoaded = nullptr;
    const bool readCMaps = CodesByCMap && record->IsTwoByte != 0;
    if (!shared || (readCMaps && boundReached) || !Shareable(*record))
        return;
    // The lookup index of the ToUnicode ranges is built on first use: built now, readers of
    // the shared record only read it.
    record->ToUnicode.FindRange(0);
    TPDFFontRecordCache::TEntry entry;
    entry.Record = FFonts.back();
    entry.CMapRanges = FParsedCMapRanges - parsedBefore;
    entry.ReadCMaps = readCMaps;
    entry.Size = EstimatedSize(*record) + FLoadedProgramBytes;
    FRecords->Insert(key, std::move(entry));
}

void TPDFFontCollection::DropOldest() {
    const auto oldest = std::find_if(FFonts.begin(), FFonts.end(), [this](const auto& record) {
        return record.get() != FCurrent;
    });
    if (oldest == FFonts.end())
        return;
    const TPDFFontCollectionData& dropped = **oldest;
    if (dropped.Holder) {
        if (const auto it = FDirectIndex.find({dropped.Holder, dropped.ResourceName});
            it != FDirectIndex.end() && it->second == oldest->get())
            FDirectIndex.erase(it);
    } else if (const auto it = FIndex.find(dropped.ObjNum);
               it != FIndex.end() && it->second == oldest->get()) {
        FIndex.erase(it);
    }
    FFonts.erase(oldest);
}

const TPDFFontCollectionData* TPDFFontCollection::Select(const TPDFIndRef* ref) {
    if (!ref)
        return nullptr;
    const std::int32_t objNum = ref->RefObjNum();
    const TPDFFontCollectionData* record = nullptr;
    if (const auto it = FIndex.find(objNum); it != FIndex.end()) {
        record = it->second;
    } else {
        if (FFonts.size() >= kMaxLoadedFonts)
            DropOldest();
        AddRecord(ref);
        record = FFonts.back().get();
        FIndex.emplace(objNum, record);
    }
    FCurrent = record;
    return record;
}

const TPDFFontCollectionData* TPDFFontCollection::Select(const TPDFDictionary* holder,
                                                         std::string_view name) {
    if (!holder)
        return nullptr;
    TPDFObject* entry = holder->Get(name, false);
    if (const auto* ref = Cast<TPDFIndRef>(entry))
        return Select(ref);
    if (const auto* font = Cast<TPDFDictionary>(entry))
        return SelectDirect(holder, name, font);
    return nullptr;
}

const TPDFFontCollectionData* TPDFFontCollection::SelectDirect(const TPDFDictionary* holder,
                                                               std::string_view name,
                                                               const TPDFDictionary* font) {
    if (!holder || !font)
        return nullptr;
    if (FCurrent && FCurrent->Holder == holder && FCurrent->ResourceName == name)
        return FCurrent;
    std::pair<const TPDFDictionary*, std::string> key{holder, std::string(name)};
    const TPDFFontCollectionData* record = nullptr;
    if (const auto it = FDirectIndex.find(key); it != FDirectIndex.end()) {
        record = it->second;
    } else {
        if (FFonts.size() >= kMaxLoadedFonts)
            DropOldest();
        // Never offered to the document's record cache: the key is this page's dictionary.
        TLoader(*this).Load(font, 0, 0);
        TPDFFontCollectionData* loaded = FLoaded;
        FLoaded = nullptr;
        loaded->ObjNum = 0;
        loaded->Holder = holder;
        loaded->ResourceName = key.second;
        record = loaded;
        FDirectIndex.emplace(std::move(key), record);
    }
    FCurrent = record;
    return record;
}

void TPDFFontCollection::SelectFont(const TPDFIndRef* ref, TPDFWidths& widths,
                                    TPDFTextVector& text) {
    if (const TPDFFontCollectionData* record = Select(ref)) {
        text = record->CodeText;
        widths = record->Widths;
    }
}

std::int32_t TPDFFontCollection::CIDWidth(std::int64_t cid) const {
    const TPDFCIDWidths* widths = Current().CIDWidths.get();
    return widths ? widths->Width(cid) : 1000;
}

bool TPDFFontCollection::CIDWidthListed(std::int64_t cid) const {
    const TPDFCIDWidths* widths = Current().CIDWidths.get();
    return widths && widths->Find(cid).has_value();
}

double TPDFFontCollection::ProgramScale() const {
    const TPDFFontRasterizer* program = Current().Program.get();
    return program ? program->GetScale() : 1;
}

std::optional<std::string> TPDFFontCollection::ToUnicodeText(std::uint16_t code) const {
    return ToUnicodeLookup(Current().ToUnicode, code, FEncoding);
}

} // namespace korvel
