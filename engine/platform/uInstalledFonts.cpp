#include "platform/uInstalledFonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>

namespace korvel {

namespace {

unsigned char lowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) !=
            lowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return lowerAscii(static_cast<unsigned char>(x)) <
               lowerAscii(static_cast<unsigned char>(y));
    });
}

std::uint32_t u32At(std::string_view s, std::size_t at) {
    if (at > s.size() || s.size() - at < 4)
        return 0;
    return std::uint32_t(static_cast<unsigned char>(s[at])) << 24 |
           std::uint32_t(static_cast<unsigned char>(s[at + 1])) << 16 |
           std::uint32_t(static_cast<unsigned char>(s[at + 2])) << 8 |
           std::uint32_t(static_cast<unsigned char>(s[at + 3]));
}

std::uint16_t u16At(std::string_view s, std::size_t at) {
    if (at > s.size() || s.size() - at < 2)
        return 0;
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) << 8 |
                                      static_cast<unsigned char>(s[at + 1]));
}

void putU32(std::string& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>(v >> 24);
    out[at + 1] = static_cast<char>(v >> 16);
    out[at + 2] = static_cast<char>(v >> 8);
    out[at + 3] = static_cast<char>(v);
}

constexpr std::uint32_t kTagTtcf = 0x74746366;  // 'ttcf'
constexpr std::uint32_t kTagTrue = 0x74727565;  // 'true'
constexpr std::uint32_t kTagOtto = 0x4F54544F;  // 'OTTO'
constexpr std::uint32_t kTagTyp1 = 0x74797031;  // 'typ1'
constexpr std::uint32_t kVersion1 = 0x00010000; // TrueType outlines

bool isSfntVersion(std::uint32_t v) {
    return v == kVersion1 || v == kTagTrue || v == kTagOtto || v == kTagTyp1;
}

// Reads count bytes at offset into out; false when they are not all there.
using TReadAt = std::function<bool(std::uint64_t offset, std::size_t count, std::string& out)>;

// Where the tables of one face of a collection go in the standalone font made of it.
struct TFacePlan {
    std::string Directory; // header and table directory, offsets already renumbered
    struct TPiece {
        std::uint64_t From, Length, To;
    };
    std::vector<TPiece> Tables;
    std::uint64_t Size = 0;
};

bool planFace(const TReadAt& readAt, std::uint64_t fileSize, std::uint32_t face,
              std::uint64_t maxSize, TFacePlan& plan) {
    std::string head;
    if (!readAt(0, 12, head) || u32At(head, 0) != kTagTtcf || face >= u32At(head, 8))
        return false;
    std::string entry;
    if (!readAt(12 + std::uint64_t(face) * 4, 4, entry))
        return false;
    const std::uint64_t faceAt = u32At(entry, 0);
    std::string header;
    if (!readAt(faceAt, 12, header) || !isSfntVersion(u32At(header, 0)))
        return false;
    const std::uint64_t numTables = u16At(header, 4);
    const std::uint64_t directorySize = 12 + numTables * 16;
    if (directorySize > maxSize || !readAt(faceAt, std::size_t(directorySize), plan.Directory))
        return false;
    std::uint64_t next = directorySize;
    for (std::uint64_t i = 0; i < numTables; ++i) {
        const std::size_t at = std::size_t(12 + i * 16);
        const std::uint64_t from = u32At(plan.Directory, at + 8);
        const std::uint64_t length = u32At(plan.Directory, at + 12);
        if (from > fileSize || length > fileSize - from)
            return false;
        plan.Tables.push_back({from, length, next});
        putU32(plan.Directory, at + 8, std::uint32_t(next));
        next += (length + 3) & ~std::uint64_t(3); // tables start on four-byte boundaries
        if (next > maxSize)
            return false;
    }
    plan.Size = next;
    return true;
}

std::string assembleFace(const TReadAt& readAt, const TFacePlan& plan) {
    std::string out(std::size_t(plan.Size), '\0');
    std::copy(plan.Directory.begin(), plan.Directory.end(), out.begin());
    std::string table;
    for (const auto& piece : plan.Tables) {
        if (!readAt(piece.From, std::size_t(piece.Length), table))
            return {};
        std::copy(table.begin(), table.end(), out.begin() + std::ptrdiff_t(piece.To));
    }
    return out;
}

// Reads ranges of a file; every range is checked against the size the file had when opened.
class TFileRanges {
public:
    explicit TFileRanges(const std::string& path) : FIn(path, std::ios::binary) {
        if (FIn) {
            FIn.seekg(0, std::ios::end);
            const auto end = FIn.tellg();
            FSize = end > 0 ? std::uint64_t(end) : 0;
        }
    }
    std::uint64_t Size() const { return FSize; }
    bool ReadAt(std::uint64_t offset, std::size_t count, std::string& out) {
        if (offset > FSize || count > FSize - offset)
            return false;
        out.assign(count, '\0');
        FIn.clear();
        FIn.seekg(std::streamoff(offset));
        FIn.read(out.data(), std::streamsize(count));
        return FIn.gcount() == std::streamsize(count);
    }
    TReadAt Reader() {
        return
            [this](std::uint64_t o, std::size_t n, std::string& out) { return ReadAt(o, n, out); };
    }

private:
    std::ifstream FIn;
    std::uint64_t FSize = 0;
};

FcConfig* configOf(void* config) {
    return static_cast<FcConfig*>(config);
}

bool isOutlineFormat(FcPattern* font, bool trueTypeOnly) {
    FcChar8* format = nullptr;
    if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch || !format)
        return false;
    const std::string_view f(reinterpret_cast<const char*>(format));
    return f == "TrueType" || (!trueTypeOnly && f == "CFF");
}

std::atomic<TInstalledFonts*> overrideFonts{nullptr};

// Families whose metric-compatible stand-ins fontconfig substitutes by default.
const std::pair<std::string_view, std::vector<std::string_view>> kMetricAliases[] = {
    {"Arial", {"Liberation Sans", "Arimo"}},
    {"Times New Roman", {"Liberation Serif", "Tinos"}},
    {"Courier New", {"Liberation Mono", "Cousine"}},
};

// The family of fontconfig's best match for a family name; empty when there is none.
std::string matchedFamily(FcConfig* config, std::string_view family) {
    std::string result;
    FcPattern* request = FcPatternCreate();
    const std::string name(family);
    FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(config, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult status = FcResultNoMatch;
    if (FcPattern* font = FcFontMatch(config, request, &status)) {
        FcChar8* found = nullptr;
        if (FcPatternGetString(font, FC_FAMILY, 0, &found) == FcResultMatch && found)
            result = reinterpret_cast<const char*>(found);
        FcPatternDestroy(font);
    }
    FcPatternDestroy(request);
    return result;
}

} // namespace

std::vector<std::string> BuildFamilyList(const std::vector<std::string>& enumerated) {
    std::vector<std::string> list{"Default"};
    for (const auto& name : enumerated)
        if (!equalIgnoringCase(name, list.back()))
            list.push_back(name);
    std::stable_sort(list.begin(), list.end(), lessIgnoringCase);
    return list;
}

const std::vector<std::string>& TInstalledFonts::FamilyList() {
    std::lock_guard<std::mutex> hold(FLock);
    if (!FListed) {
        FFamilies = BuildFamilyList(EnumerateFamilies());
        FListed = true;
    }
    return FFamilies; // never changes once built
}

std::shared_ptr<const std::string> TInstalledFonts::FontData(std::string_view family,
                                                             TFontStyle style) {
    std::lock_guard<std::mutex> hold(FLock);
    auto key = std::make_tuple(std::string(family), style.Bold, style.Italic);
    if (auto found = FData.find(key); found != FData.end())
        return found->second;
    std::shared_ptr<const std::string> data;
    const std::uint64_t claimed = DataSize(family, style);
    if (claimed > 0 && claimed <= kMaxInstalledFontData) {
        std::string bytes = ReadData(family, style, kMaxInstalledFontData);
        if (!bytes.empty() && bytes.size() <= kMaxInstalledFontData)
            data = std::make_shared<const std::string>(std::move(bytes));
    }
    FData.emplace(std::move(key), data);
    return data;
}

std::string ExtractCollectionFace(std::string_view collection, std::uint32_t face,
                                  std::uint64_t maxSize) {
    const TReadAt readAt = [collection](std::uint64_t o, std::size_t n, std::string& out) {
        if (o > collection.size() || n > collection.size() - o)
            return false;
        out.assign(collection.substr(std::size_t(o), n));
        return true;
    };
    TFacePlan plan;
    if (!planFace(readAt, collection.size(), face, maxSize, plan))
        return {};
    return assembleFace(readAt, plan);
}

TFontconfigFonts::TFontconfigFonts() : FConfig(FcInitLoadConfigAndFonts()) {}

TFontconfigFonts::~TFontconfigFonts() {
    if (FConfig)
        FcConfigDestroy(configOf(FConfig));
}

std::vector<std::string> TFontconfigFonts::EnumerateFamilies() {
    std::vector<std::string> names;
    if (!FConfig)
        return names;
    FcPattern* all = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_FONTFORMAT, nullptr);
    if (FcFontSet* set = FcFontList(configOf(FConfig), all, objects)) {
        for (int i = 0; i < set->nfont; ++i) {
            if (!isOutlineFormat(set->fonts[i], false))
                continue;
            FcChar8* name = nullptr;
            for (int n = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch;
                 ++n)
                names.emplace_back(reinterpret_cast<const char*>(name));
        }
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(all);
    // The core families of the other platform are listed when fontconfig stands a
    // metric-compatible face in for them, as that platform would list the originals.
    for (const auto& [family, standIns] : kMetricAliases) {
        if (std::find(names.begin(), names.end(), family) != names.end())
            continue;
        const std::string face = matchedFamily(configOf(FConfig), family);
        if (std::find(standIns.begin(), standIns.end(), face) != standIns.end())
            names.emplace_back(family);
    }
    return names;
}

TFontconfigFonts::TMatch TFontconfigFonts::Resolve(std::string_view family, TFontStyle style) {
    TMatch match;
    if (!FConfig)
        return match;
    FcPattern* request = FcPatternCreate();
    const std::string name(family);
    FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddInteger(request, FC_WEIGHT, style.Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(request, FC_SLANT, style.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(configOf(FConfig), request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result = FcResultNoMatch;
    if (FcFontSet* set = FcFontSort(configOf(FConfig), request, FcFalse, nullptr, &result)) {
        // TrueType outlines first: the TrueType reader reads those alone.
        for (const bool trueTypeOnly : {true, false}) {
            for (int i = 0; i < set->nfont && match.File.empty(); ++i) {
                FcPattern* font = set->fonts[i];
                FcChar8* file = nullptr;
                if (!isOutlineFormat(font, trueTypeOnly) ||
                    FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file)
                    continue;
                int index = 0;
                FcPatternGetInteger(font, FC_INDEX, 0, &index);
                match.File = reinterpret_cast<const char*>(file);
                match.Face = index & 0xFFFF; // the high half names a variable-font instance
            }
            if (!match.File.empty())
                break;
        }
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(request);
    return match;
}

std::uint64_t TFontconfigFonts::DataSize(std::string_view family, TFontStyle style) {
    const TMatch match = Resolve(family, style);
    if (match.File.empty())
        return 0;
    TFileRanges file(match.File);
    std::string signature;
    if (!file.ReadAt(0, 4, signature))
        return 0;
    if (isSfntVersion(u32At(signature, 0)))
        return file.Size();
    TFacePlan plan;
    if (u32At(signature, 0) == kTagTtcf &&
        planFace(file.Reader(), file.Size(), std::uint32_t(match.Face), kMaxInstalledFontData,
                 plan))
        return plan.Size;
    return 0;
}

std::string TFontconfigFonts::ReadData(std::string_view family, TFontStyle style,
                                       std::uint64_t maxSize) {
    const TMatch match = Resolve(family, style);
    if (match.File.empty())
        return {};
    TFileRanges file(match.File);
    std::string signature;
    if (!file.ReadAt(0, 4, signature))
        return {};
    if (isSfntVersion(u32At(signature, 0))) {
        std::string bytes;
        if (file.Size() > maxSize || !file.ReadAt(0, std::size_t(file.Size()), bytes))
            return {};
        return bytes;
    }
    TFacePlan plan;
    if (u32At(signature, 0) != kTagTtcf ||
        !planFace(file.Reader(), file.Size(), std::uint32_t(match.Face), maxSize, plan))
        return {};
    return assembleFace(file.Reader(), plan);
}

TInstalledFonts& InstalledFonts() {
    if (TInstalledFonts* set = overrideFonts.load())
        return *set;
    static TFontconfigFonts fontconfig; // made on first use, thread-safe
    return fontconfig;
}

void SetInstalledFonts(TInstalledFonts* fonts) {
    overrideFonts.store(fonts);
}

} // namespace korvel
