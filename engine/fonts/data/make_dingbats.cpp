// Writes the engine's built-in dingbats font as a C++ source: a small TrueType font, compressed
// with zlib, as the array korvel::generated::kDingbatsFontZ. The build runs it; its output is
// the same on every run.
//
// The font is complete but tiny: a few glyphs of the dingbats repertoire with their usual
// advance widths and glyph names (post table format 2.0), empty outlines, a Macintosh byte cmap
// and a Windows symbol cmap (U+F020...). Text extraction needs no more than a valid program.
//
// Usage: make_dingbats OUT.cpp [OUT.ttf]   (the second file, uncompressed, is for inspection)

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

class Bytes {
public:
    Bytes& u8(unsigned v) {
        FData.push_back(static_cast<char>(v & 0xFF));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v >> 8).u8(v); }
    Bytes& i16(int v) { return u16(static_cast<unsigned>(v) & 0xFFFF); }
    Bytes& u32(std::uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
    Bytes& tag(const char* t) { return u8(t[0]).u8(t[1]).u8(t[2]).u8(t[3]); }
    Bytes& text(const std::string& s) {
        FData += s;
        return *this;
    }
    Bytes& zeros(std::size_t n) {
        FData.append(n, '\0');
        return *this;
    }
    const std::string& str() const { return FData; }
    std::size_t size() const { return FData.size(); }

private:
    std::string FData;
};

struct Glyph {
    const char* Name;
    int Width;    // thousandths of an em
    int MacIndex; // index among the standard Macintosh names, or -1 for a custom name
};

// .notdef and space have standard Macintosh names; the rest are the dingbats names a1, a2 ...
const Glyph kGlyphs[] = {
    {".notdef", 0, 0}, {"space", 278, 3}, {"a1", 974, -1}, {"a2", 961, -1},   {"a202", 974, -1},
    {"a3", 980, -1},   {"a4", 719, -1},   {"a5", 789, -1}, {"a119", 790, -1}, {"a118", 791, -1},
};
constexpr unsigned kGlyphCount = sizeof(kGlyphs) / sizeof(kGlyphs[0]);
constexpr unsigned kUnitsPerEm = 2048;
constexpr unsigned kFirstCode = 32; // space, then the dingbats in order
constexpr int kAscent = 1679;       // 820 and -143 thousandths
constexpr int kDescent = -293;
const char* const kFamily = "VantrelDingbats";

unsigned units(int thousandths) {
    return static_cast<unsigned>(std::lround(thousandths * double(kUnitsPerEm) / 1000.0));
}

unsigned maxAdvance() {
    unsigned m = 0;
    for (const auto& g : kGlyphs)
        m = std::max(m, units(g.Width));
    return m;
}

std::string head() {
    Bytes b;
    b.u32(0x00010000).u32(0x00010000).u32(0 /* checkSumAdjustment, set last */).u32(0x5F0F3CF5);
    b.u16(0x000B).u16(kUnitsPerEm).zeros(8).zeros(8); // created, modified: none
    b.i16(0).i16(kDescent).i16(int(maxAdvance())).i16(kAscent);
    b.u16(0).u16(8).i16(2).i16(0 /* short loca */).i16(0);
    return b.str();
}

std::string hhea() {
    Bytes b;
    b.u32(0x00010000).i16(kAscent).i16(kDescent).i16(0).u16(maxAdvance());
    b.i16(0).i16(0).i16(0).i16(1).i16(0).i16(0).zeros(8).i16(0).u16(kGlyphCount);
    return b.str();
}

std::string maxp() {
    Bytes b;
    b.u32(0x00010000).u16(kGlyphCount).u16(0).u16(0).u16(0).u16(0).u16(2);
    for (int i = 0; i < 8; ++i)
        b.u16(0);
    return b.str();
}

std::string hmtx() {
    Bytes b;
    for (const auto& g : kGlyphs)
        b.u16(units(g.Width)).i16(0);
    return b.str();
}

std::string post() {
    Bytes b;
    b.u32(0x00020000).u32(0).i16(-100).i16(50).u32(0).zeros(16).u16(kGlyphCount);
    unsigned custom = 258;
    Bytes names;
    for (const auto& g : kGlyphs) {
        if (g.MacIndex >= 0) {
            b.u16(unsigned(g.MacIndex));
        } else {
            b.u16(custom++);
            names.u8(unsigned(std::string(g.Name).size())).text(g.Name);
        }
    }
    return b.text(names.str()).str();
}

std::string cmap() {
    const unsigned last = kFirstCode + kGlyphCount - 2;
    Bytes mac; // format 0: one glyph index per byte code
    mac.u16(0).u16(262).u16(0);
    for (unsigned c = 0; c < 256; ++c)
        mac.u8(c >= kFirstCode && c <= last ? c - kFirstCode + 1 : 0);
    Bytes win; // format 4: one segment U+F020... and the closing segment
    win.u16(4).u16(16 + 2 * 8).u16(0).u16(4).u16(4).u16(1).u16(0);
    win.u16(0xF000 + last).u16(0xFFFF).u16(0);
    win.u16(0xF000 + kFirstCode).u16(0xFFFF);
    win.u16((1 - (0xF000 + kFirstCode)) & 0xFFFF).u16(1);
    win.u16(0).u16(0);
    Bytes b;
    b.u16(0).u16(2);
    b.u16(1).u16(0).u32(4 + 2 * 8);
    b.u16(3).u16(0).u32(std::uint32_t(4 + 2 * 8 + mac.size()));
    return b.text(mac.str()).text(win.str()).str();
}

std::string name() {
    const std::vector<std::pair<unsigned, std::string>> records = {
        {1, kFamily}, {2, "Regular"},     {3, std::string(kFamily) + ":1.0"},
        {4, kFamily}, {5, "Version 1.0"}, {6, kFamily},
    };
    Bytes b, strings;
    b.u16(0).u16(unsigned(records.size())).u16(unsigned(6 + 12 * records.size()));
    for (const auto& [id, value] : records) {
        Bytes utf16; // the values are ASCII
        for (const char c : value)
            utf16.u16(static_cast<unsigned char>(c));
        b.u16(3)
            .u16(1)
            .u16(0x409)
            .u16(id)
            .u16(unsigned(utf16.size()))
            .u16(unsigned(strings.size()));
        strings.text(utf16.str());
    }
    return b.text(strings.str()).str();
}

std::string os2() {
    Bytes b;
    b.u16(4).i16(int(units(800))).u16(400).u16(5).u16(0);
    b.i16(1331).i16(1229).i16(0).i16(154).i16(1331).i16(1229).i16(0).i16(717).i16(102).i16(530);
    b.i16(0).zeros(10);                        // family class, panose
    b.u32(0).u32(0).u32(0).u32(0).tag("NONE"); // unicode ranges, vendor
    b.u16(0x0040).u16(0xF000 + kFirstCode).u16(0xF000 + kFirstCode + kGlyphCount - 2);
    b.i16(kAscent).i16(kDescent).i16(0).u16(unsigned(kAscent)).u16(unsigned(-kDescent));
    b.u32(0x80000000u).u32(0); // code pages: symbol
    b.i16(0).i16(0).u16(0).u16(kFirstCode).u16(1);
    return b.str();
}

std::string loca() { // every glyph empty
    Bytes b;
    for (unsigned i = 0; i <= kGlyphCount; ++i)
        b.u16(0);
    return b.str();
}

std::uint32_t checksum(const std::string& data) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = word << 8 | (i + k < data.size() ? static_cast<unsigned char>(data[i + k]) : 0);
        sum += word;
    }
    return sum;
}

std::string font() {
    // Sorted by tag, as the table directory must be.
    const std::vector<std::pair<const char*, std::string>> tables = {
        {"OS/2", os2()},  {"cmap", cmap()}, {"glyf", ""},     {"head", head()}, {"hhea", hhea()},
        {"hmtx", hmtx()}, {"loca", loca()}, {"maxp", maxp()}, {"name", name()}, {"post", post()},
    };
    const unsigned n = unsigned(tables.size());
    unsigned power = 1, selector = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++selector;
    }
    Bytes directory;
    directory.u32(0x00010000).u16(n).u16(power * 16).u16(selector).u16(n * 16 - power * 16);
    Bytes body;
    std::size_t headAt = 0;
    std::size_t offset = 12 + 16 * tables.size();
    for (const auto& [tag, data] : tables) {
        if (std::string(tag) == "head")
            headAt = offset;
        directory.tag(tag).u32(checksum(data)).u32(std::uint32_t(offset));
        directory.u32(std::uint32_t(data.size()));
        body.text(data).zeros((4 - data.size() % 4) % 4);
        offset += (data.size() + 3) / 4 * 4;
    }
    std::string file = directory.str() + body.str();
    const std::uint32_t adjustment = 0xB1B0AFBAu - checksum(file);
    for (int k = 0; k < 4; ++k)
        file[headAt + 8 + k] = static_cast<char>(adjustment >> (24 - 8 * k));
    return file;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: make_dingbats OUT.cpp [OUT.ttf]\n";
        return 1;
    }
    const std::string ttf = font();
    uLongf packedSize = compressBound(uLong(ttf.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(ttf.data()),
                  uLong(ttf.size()), 9) != Z_OK) {
        std::cerr << "make_dingbats: compression failed\n";
        return 1;
    }
    packed.resize(packedSize);

    std::string source = "// Generated by engine/fonts/data/make_dingbats.cpp; do not edit.\n"
                         "#include <cstddef>\n\nnamespace korvel::generated {\n\n"
                         "// The built-in dingbats TrueType font (" +
                         std::to_string(ttf.size()) +
                         " bytes), zlib-compressed.\n"
                         "extern const unsigned char kDingbatsFontZ[] = {";
    for (std::size_t i = 0; i < packed.size(); ++i) {
        source += i % 16 == 0 ? "\n    " : " ";
        char cell[8];
        std::snprintf(cell, sizeof cell, "0x%02x,", packed[i]);
        source += cell;
    }
    source += "\n};\nextern const std::size_t kDingbatsFontZSize = sizeof(kDingbatsFontZ);\n\n"
              "} // namespace korvel::generated\n";

    // Rewrite only on change so that the library does not rebuild needlessly.
    std::ifstream old(argv[1], std::ios::binary);
    const std::string previous((std::istreambuf_iterator<char>(old)),
                               std::istreambuf_iterator<char>());
    if (previous != source) {
        std::ofstream out(argv[1], std::ios::binary);
        out << source;
        if (!out) {
            std::cerr << "make_dingbats: cannot write " << argv[1] << "\n";
            return 1;
        }
    }
    if (argc > 2) {
        std::ofstream raw(argv[2], std::ios::binary);
        raw << ttf;
    }
    return 0;
}
