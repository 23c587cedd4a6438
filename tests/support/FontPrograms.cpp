#include "support/FontPrograms.h"

namespace tolvane_test {

void Put16(std::string& out, std::uint32_t value) {
    out.push_back(char(value >> 8));
    out.push_back(char(value));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value >> 16);
    Put16(out, value);
}

std::string SfntFile(const std::vector<SfntTable>& tables, std::uint32_t version,
                     std::int32_t numTables) {
    std::string out, body;
    Put32(out, version);
    Put16(out, numTables >= 0 ? std::uint32_t(numTables) : std::uint32_t(tables.size()));
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    std::size_t at = 12 + 16 * tables.size();
    for (const SfntTable& t : tables) {
        out += t.Tag;
        Put32(out, 0);
        Put32(out, t.Offset >= 0 ? std::uint32_t(t.Offset) : std::uint32_t(at));
        Put32(out, t.Length >= 0 ? std::uint32_t(t.Length) : std::uint32_t(t.Data.size()));
        std::string data = t.Data;
        data.resize((data.size() + 3) / 4 * 4, '\0');
        body += data;
        at += data.size();
    }
    return out + body;
}

std::string TrueTypeProgram(const std::vector<std::pair<std::string, int>>& glyphs,
                            std::uint32_t unitsPerEm, std::size_t glyfBytesPerGlyph) {
    const auto count = std::uint32_t(glyphs.size());
    std::string head(18, '\0'), maxp, post, hhea, hmtx;
    Put16(head, unitsPerEm);
    head.resize(54, '\0');
    Put32(maxp, 0x00005000);
    Put16(maxp, count);
    Put32(post, 0x00020000);
    post.resize(32, '\0');
    Put16(post, count);
    for (std::uint32_t g = 0; g < count; ++g)
        Put16(post, 258 + g);
    for (const auto& [name, width] : glyphs) {
        post += char(name.size()) + name;
        Put16(hmtx, std::uint32_t(width));
        Put16(hmtx, 0);
    }
    Put32(hhea, 0x00010000);
    hhea.resize(34, '\0');
    Put16(hhea, count);
    std::vector<SfntTable> tables;
    if (glyfBytesPerGlyph > 0)
        tables.push_back({"glyf", std::string(glyphs.size() * glyfBytesPerGlyph, '\x11')});
    for (auto& [tag, data] : std::vector<std::pair<std::string, std::string>>{
             {"head", head}, {"hhea", hhea}, {"hmtx", hmtx}, {"maxp", maxp}, {"post", post}})
        tables.push_back({tag, data});
    return SfntFile(tables);
}

std::string CffIndex(const std::vector<std::string>& items) {
    std::string out;
    Put16(out, std::uint32_t(items.size()));
    if (items.empty())
        return out;
    out += char(4);
    std::uint32_t offset = 1;
    Put32(out, offset);
    for (const std::string& item : items)
        Put32(out, offset += std::uint32_t(item.size()));
    for (const std::string& item : items)
        out += item;
    return out;
}

} // namespace tolvane_test
