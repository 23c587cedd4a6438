#include "fonts/uPDFTrueTypeParser.h"

#include <algorithm>
#include <optional>

#include "fonts/FontTables.h"

namespace korvel {

namespace {

constexpr std::uint32_t kVersion1 = 0x00010000; // Fixed 1.0
constexpr std::uint32_t kTagTrue = 0x74727565;  // "true"
constexpr std::uint32_t kTagTyp1 = 0x74797031;  // "typ1"
constexpr std::uint32_t kPostVersion2 = 0x00020000;
constexpr std::uint32_t kPostVersion25 = 0x00025000;
constexpr std::uint32_t kPostVersion3 = 0x00030000;
constexpr std::size_t kMacNameCount = 258;
constexpr std::size_t kPostGlyphData = 32; // where the per-glyph data of post 2.0 / 2.5 starts

// Big-endian fields of a view; nullopt when the field does not lie wholly inside it.
std::optional<std::uint16_t> u16(std::string_view data, std::size_t at) {
    if (at > data.size() || data.size() - at < 2)
        return std::nullopt;
    return std::uint16_t((std::uint8_t(data[at]) << 8) | std::uint8_t(data[at + 1]));
}

std::optional<std::uint32_t> u32(std::string_view data, std::size_t at) {
    if (at > data.size() || data.size() - at < 4)
        return std::nullopt;
    return (std::uint32_t(std::uint8_t(data[at])) << 24) |
           (std::uint32_t(std::uint8_t(data[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(data[at + 2])) << 8) | std::uint8_t(data[at + 3]);
}

std::string_view macName(std::size_t index) {
    return tables::kMacGlyphNames[index].name;
}

} // namespace

void TPDFTrueTypeParser::LoadTrueType(std::string_view data) {
    *this = TPDFTrueTypeParser();
    const auto version = u32(data, 0);
    if (!version)
        return;
    FSfntVersion = *version;
    if (FSfntVersion != kVersion1 && FSfntVersion != kTagTrue && FSfntVersion != kTagTyp1)
        return;
    // numTables, then searchRange, entrySelector and rangeShift, which are not needed.
    const std::uint16_t numTables = u16(data, 4).value_or(0);
    for (std::size_t i = 0; i < numTables; ++i) {
        const std::size_t at = 12 + 16 * i;
        if (data.size() < at + 16)
            break; // entries past the end of the data cannot name a table
        TPDFTTDirectoryEntry entry;
        std::copy_n(data.begin() + std::ptrdiff_t(at), 4, entry.Tag.begin());
        entry.Checksum = *u32(data, at + 4);
        entry.Offset = *u32(data, at + 8);
        entry.Length = *u32(data, at + 12);
        FDirectory.push_back(entry);
    }
    // A table is the part of the data its entry claims, cut at the end of the data.
    auto table = [&](std::string_view tag) -> std::optional<std::string_view> {
        const TPDFTTDirectoryEntry* entry = FindTable(tag);
        if (entry == nullptr)
            return std::nullopt;
        if (entry->Offset >= data.size())
            return std::string_view();
        return data.substr(entry->Offset, entry->Length);
    };

    if (const auto head = table("head")) {
        // A zero unitsPerEm would divide the advances by zero; the default stays instead.
        const std::uint16_t unitsPerEm = u16(*head, 18).value_or(0);
        if (unitsPerEm != 0)
            FUnitsPerEm = unitsPerEm;
    }
    if (const auto maxp = table("maxp"))
        FNumGlyphs = u16(*maxp, 4).value_or(0);
    if (const auto post = table("post"))
        ReadPost(*post);
    if (const auto hhea = table("hhea"); hhea && u32(*hhea, 0) == kVersion1)
        FNumberOfHMetrics = u16(*hhea, 34).value_or(0);
    if (const auto hmtx = table("hmtx")) {
        const std::size_t count = std::min<std::size_t>(FNumberOfHMetrics, hmtx->size() / 4);
        FAdvanceWidths.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t advance = *u16(*hmtx, 4 * i);
            FAdvanceWidths.push_back(std::uint16_t(advance * 1000 / FUnitsPerEm));
        }
    }
    IndexNames();
}

void TPDFTrueTypeParser::ReadPost(std::string_view post) {
    FGlyphNames.assign(FNumGlyphs, std::string());
    const std::uint32_t version = u32(post, 0).value_or(0);
    if (version == kVersion1) {
        for (std::size_t g = 0; g < std::min<std::size_t>(FNumGlyphs, kMacNameCount); ++g)
            FGlyphNames[g] = macName(g);
    } else if (version == kPostVersion2) {
        const std::size_t glyphs =
            std::min<std::size_t>(u16(post, kPostGlyphData).value_or(0), FNumGlyphs);
        const std::size_t indexes = kPostGlyphData + 2;
        // Name indexes; a glyph whose index lies past the table keeps its empty name.
        std::vector<std::int32_t> nameIndex(glyphs, -1);
        std::int32_t highest = -1;
        for (std::size_t g = 0; g < glyphs; ++g) {
            const auto index = u16(post, indexes + 2 * g);
            if (!index)
                break;
            nameIndex[g] = *index;
            highest = std::max(highest, std::int32_t(*index) - std::int32_t(kMacNameCount));
        }
        // The custom names, as many as the highest custom index needs and the table holds.
        std::vector<std::string_view> custom;
        std::size_t at = indexes + 2 * glyphs;
        while (std::int32_t(custom.size()) <= highest && at < post.size()) {
            const std::size_t length = std::uint8_t(post[at]);
            if (post.size() - at - 1 < length)
                break;
            custom.push_back(post.substr(at + 1, length));
            at += 1 + length;
        }
        for (std::size_t g = 0; g < glyphs; ++g) {
            if (nameIndex[g] < 0)
                continue;
            const std::size_t index = std::size_t(nameIndex[g]);
            if (index < kMacNameCount)
                FGlyphNames[g] = macName(index);
            else if (index - kMacNameCount < custom.size())
                FGlyphNames[g] = custom[index - kMacNameCount];
        }
    } else if (version == kPostVersion25) {
        const std::size_t glyphs =
            std::min<std::size_t>(u16(post, kPostGlyphData).value_or(0), FNumGlyphs);
        for (std::size_t g = 0; g < glyphs; ++g) {
            const std::size_t at = kPostGlyphData + 2 + g;
            if (at >= post.size())
                break;
            const std::int64_t index = std::int64_t(g) + static_cast<std::int8_t>(post[at]);
            if (index >= 1 && index < std::int64_t(kMacNameCount))
                FGlyphNames[g] = macName(std::size_t(index));
        }
    } else if (version == kPostVersion3) {
        FGlyphNames.clear();
    }
}

void TPDFTrueTypeParser::IndexNames() {
    // Glyphs without a name are many in fonts whose post table names few of numGlyphs: only
    // the highest of them is ever found, so only the named ones are sorted.
    FNameOrder.clear();
    FLastUnnamed = -1;
    for (std::size_t g = 0; g < FGlyphNames.size(); ++g) {
        if (FGlyphNames[g].empty())
            FLastUnnamed = std::int32_t(g);
        else
            FNameOrder.push_back(std::uint16_t(g));
    }
    std::sort(FNameOrder.begin(), FNameOrder.end(), [this](std::uint16_t a, std::uint16_t b) {
        const int order = FGlyphNames[a].compare(FGlyphNames[b]);
        return order != 0 ? order < 0 : a > b;
    });
}

std::int32_t TPDFTrueTypeParser::GlyphIndexOfName(std::string_view name) const {
    if (name.empty())
        return FLastUnnamed;
    const auto it = std::lower_bound(
        FNameOrder.begin(), FNameOrder.end(), name,
        [this](std::uint16_t g, std::string_view key) { return FGlyphNames[g] < key; });
    if (it == FNameOrder.end() || FGlyphNames[*it] != name)
        return -1;
    return *it;
}

std::int32_t TPDFTrueTypeParser::AdvanceWidth(std::int32_t glyph) const {
    if (FAdvanceWidths.empty())
        return 750;
    if (glyph >= 0 && std::size_t(glyph) < FAdvanceWidths.size())
        return FAdvanceWidths[std::size_t(glyph)];
    return FAdvanceWidths.back();
}

const TPDFTTDirectoryEntry* TPDFTrueTypeParser::FindTable(std::string_view tag) const {
    for (const TPDFTTDirectoryEntry& entry : FDirectory)
        if (std::string_view(entry.Tag.data(), entry.Tag.size()) == tag)
            return &entry;
    return nullptr;
}

} // namespace korvel
