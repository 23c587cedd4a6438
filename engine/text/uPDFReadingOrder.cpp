#include "text/uPDFReadingOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace korvel {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Two items share a baseline when their baselines are closer than this share of the smaller
// font size.
constexpr double kSameBaseline = 0.3;
// A glyph this much smaller than a line's may sit above (superscript) or below (subscript) its
// baseline by up to these shares of the line's size and still belong to it.
constexpr double kScriptRatio = 0.85;
constexpr double kScriptRise = 0.6;
constexpr double kScriptDrop = 0.35;
// A line joins the block above when its baseline is at most this many font sizes lower and
// the sizes are alike.
constexpr double kBlockLeading = 1.6;
constexpr double kBlockSizeRatio = 1.34;
// Open blocks a line is compared with; more (a hostile pile of lines) start new blocks.
constexpr std::size_t kMaxOpenBlocks = 64;
// Nesting of the reading-order cuts; deeper regions are read top to bottom.
constexpr int kMaxCutDepth = 64;

// A glyph in its direction's frame: text runs along +x, lines go down along +y.
struct TFrameGlyph {
    const std::string* Text = nullptr;
    double X0 = 0;
    double X1 = 0;
    double Base = 0;
    double Size = 0;
    double Ascent = 0;  // absolute, above the baseline
    double Descent = 0; // absolute, below the baseline
    bool Space = false;
};

struct TFrameWord {
    std::string Text;
    double X0 = 0, X1 = 0, Top = 0, Bottom = 0, Size = 0;
};

struct TFrameLine {
    std::vector<std::size_t> Glyphs; // in x order
    double Base = 0;
    double Size = 0;
    double X0 = 0, X1 = 0;
    std::vector<TFrameWord> Words;
    double Top = 0, Bottom = 0;
};

struct TFrameBlock {
    std::vector<std::size_t> Lines; // top to bottom
    double X0 = 0, X1 = 0, Top = 0, Bottom = 0;
};

// The frame of one quarter turn: display space (y up) to frame space (y down) and back.
struct TFrame {
    int Quarter = 0;
    double Width = 0;
    double Height = 0;
    void ToFrame(double x, double y, double& fx, double& fy) const {
        switch (Quarter) {
        case 0:
            fx = x, fy = Height - y;
            break;
        case 1:
            fx = y, fy = x;
            break;
        case 2:
            fx = Width - x, fy = y;
            break;
        default:
            fx = Height - y, fy = Width - x;
            break;
        }
    }
    void ToDisplay(double fx, double fy, double& x, double& y) const {
        switch (Quarter) {
        case 0:
            x = fx, y = Height - fy;
            break;
        case 1:
            x = fy, y = fx;
            break;
        case 2:
            x = Width - fx, y = fy;
            break;
        default:
            x = Width - fy, y = Height - fx;
            break;
        }
    }
};

// Blank text breaks words and is not written; the ideographic space (U+3000) counts.
bool isBlank(const std::string& text) {
    if (text == "\xE3\x80\x80")
        return true;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
    });
}

// Glyphs drawn over one another with the same text (fake bold, shadows) count once.
std::vector<TFrameGlyph> dropDuplicates(std::vector<TFrameGlyph> glyphs, std::size_t& dropped) {
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    std::vector<TFrameGlyph> kept;
    kept.reserve(glyphs.size());
    const std::hash<std::string> hashText;
    const auto key = [&hashText](long long cx, long long cy, const std::string& text) {
        return static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull ^
               static_cast<std::uint64_t>(cy) * 0xC2B2AE3D27D4EB4Full ^ hashText(text);
    };
    for (TFrameGlyph& glyph : glyphs) {
        const double tolerance = std::min(0.1 * glyph.Size, 1.0);
        const long long cx = std::llround(std::floor(glyph.X0));
        const long long cy = std::llround(std::floor(glyph.Base));
        bool duplicate = false;
        for (long long dx = -1; dx <= 1 && !duplicate; ++dx)
            for (long long dy = -1; dy <= 1 && !duplicate; ++dy) {
                const auto found = cells.find(key(cx + dx, cy + dy, *glyph.Text));
                if (found == cells.end())
                    continue;
                for (const std::size_t other : found->second) {
                    const TFrameGlyph& o = kept[other];
                    if (*o.Text == *glyph.Text && std::abs(o.X0 - glyph.X0) <= tolerance &&
                        std::abs(o.Base - glyph.Base) <= tolerance) {
                        duplicate = true;
                        break;
                    }
                }
            }
        if (duplicate) {
            ++dropped;
            continue;
        }
        if (!glyph.Space)
            cells[key(cx, cy, *glyph.Text)].push_back(kept.size());
        kept.push_back(glyph);
    }
    return kept;
}

// How a glyph belongs to a line: 0 on its baseline, 1 as a script, -1 not at all.
int relation(double lineBase, double lineSize, double base, double size) {
    if (std::abs(lineBase - base) <= kSameBaseline * std::min(lineSize, size))
        return 0;
    const bool glyphSmaller = size < kScriptRatio * lineSize;
    const bool lineSmaller = lineSize < kScriptRatio * size;
    if (glyphSmaller) {
        const double rise = lineBase - base; // frame y grows downwards
        return rise <= kScriptRise * lineSize && rise >= -kScriptDrop * lineSize ? 1 : -1;
    }
    if (lineSmaller) {
        const double rise = base - lineBase;
        return rise <= kScriptRise * size && rise >= -kScriptDrop * size ? 1 : -1;
    }
    return -1;
}

std::vector<TFrameLine> buildLines(const std::vector<TFrameGlyph>& glyphs) {
    std::vector<std::size_t> order(glyphs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&glyphs](std::size_t a, std::size_t b) {
        return glyphs[a].X0 < glyphs[b].X0;
    });
    std::vector<TFrameLine> lines;
    std::multimap<double, std::size_t> open; // baseline -> line
    for (const std::size_t index : order) {
        const TFrameGlyph& g = glyphs[index];
        const double reach = 1.5 * g.Size + 2;
        std::size_t best = lines.size();
        int bestRelation = 2;
        double bestGap = 0;
        auto it = open.lower_bound(g.Base - reach);
        while (it != open.end() && it->first <= g.Base + reach) {
            TFrameLine& line = lines[it->second];
            const double size = std::max(line.Size, g.Size);
            if (line.X1 + 3 * TPDFReadingOrder::kLineGap * line.Size + 1 < g.X0) {
                it = open.erase(it); // every later glyph starts further right
                continue;
            }
            const double gap = g.X0 - line.X1;
            const int how = relation(line.Base, line.Size, g.Base, g.Size);
            if (how >= 0 && gap <= TPDFReadingOrder::kLineGap * size && gap >= -0.5 * size &&
                (how < bestRelation || (how == bestRelation && std::abs(gap) < bestGap))) {
                best = it->second;
                bestRelation = how;
                bestGap = std::abs(gap);
            }
            ++it;
        }
        if (best == lines.size()) {
            TFrameLine line;
            line.Base = g.Base;
            line.Size = g.Size;
            line.X0 = g.X0;
            line.X1 = g.X1;
            line.Glyphs.push_back(index);
            lines.push_back(std::move(line));
            open.emplace(g.Base, lines.size() - 1);
            continue;
        }
        TFrameLine& line = lines[best];
        line.Glyphs.push_back(index);
        line.X1 = std::max(line.X1, g.X1);
        if (bestRelation == 1 && g.Size > line.Size) { // the line's own text after its script
            for (auto at = open.lower_bound(line.Base); at != open.end(); ++at)
                if (at->second == best) {
                    open.erase(at);
                    break;
                }
            line.Base = g.Base;
            line.Size = g.Size;
            open.emplace(g.Base, best);
        }
    }
    return lines;
}

void buildWords(TFrameLine& line, const std::vector<TFrameGlyph>& glyphs) {
    bool broken = true;
    const TFrameGlyph* previous = nullptr;
    for (const std::size_t index : line.Glyphs) {
        const TFrameGlyph& g = glyphs[index];
        if (g.Space) {
            broken = true;
            continue;
        }
        if (previous && !broken &&
            g.X0 - previous->X1 > TPDFReadingOrder::kWordGap * std::max(previous->Size, g.Size))
            broken = true;
        if (broken || line.Words.empty()) {
            line.Words.push_back(TFrameWord{std::string(), g.X0, g.X1, g.Base - g.Ascent,
                                            g.Base + g.Descent, g.Size});
            broken = false;
        }
        TFrameWord& word = line.Words.back();
        word.Text += *g.Text;
        word.X0 = std::min(word.X0, g.X0);
        word.X1 = std::max(word.X1, g.X1);
        word.Top = std::min(word.Top, g.Base - g.Ascent);
        word.Bottom = std::max(word.Bottom, g.Base + g.Descent);
        word.Size = std::max(word.Size, g.Size);
        previous = &g;
    }
    if (line.Words.empty())
        return;
    line.X0 = line.Words.front().X0;
    line.X1 = line.Words.front().X1;
    line.Top = line.Words.front().Top;
    line.Bottom = line.Words.front().Bottom;
    for (const TFrameWord& word : line.Words) {
        line.X0 = std::min(line.X0, word.X0);
        line.X1 = std::max(line.X1, word.X1);
        line.Top = std::min(line.Top, word.Top);
        line.Bottom = std::max(line.Bottom, word.Bottom);
    }
}

std::vector<TFrameBlock> buildBlocks(const std::vector<TFrameLine>& lines,
                                     std::vector<std::size_t> order) {
    std::stable_sort(order.begin(), order.end(), [&lines](std::size_t a, std::size_t b) {
        return lines[a].Base < lines[b].Base ||
               (lines[a].Base == lines[b].Base && lines[a].X0 < lines[b].X0);
    });
    std::vector<TFrameBlock> blocks;
    std::vector<std::size_t> open; // blocks that may still grow, most recent last
    for (const std::size_t index : order) {
        const TFrameLine& line = lines[index];
        std::size_t best = blocks.size();
        double bestDistance = 0;
        const std::size_t first = open.size() > kMaxOpenBlocks ? open.size() - kMaxOpenBlocks : 0;
        for (std::size_t k = first; k < open.size(); ++k) {
            const TFrameBlock& block = blocks[open[k]];
            const TFrameLine& last = lines[block.Lines.back()];
            const double size = std::max(last.Size, line.Size);
            const double drop = line.Base - last.Base;
            const bool alike =
                std::max(last.Size, line.Size) <= kBlockSizeRatio * std::min(last.Size, line.Size);
            const bool overlaps = std::min(last.X1, line.X1) > std::max(last.X0, line.X0);
            if (drop > kSameBaseline * size && drop <= kBlockLeading * size && alike && overlaps &&
                (best == blocks.size() || drop < bestDistance)) {
                best = open[k];
                bestDistance = drop;
            }
        }
        if (best == blocks.size()) {
            blocks.push_back(TFrameBlock{{index}, line.X0, line.X1, line.Top, line.Bottom});
            open.push_back(blocks.size() - 1);
            continue;
        }
        TFrameBlock& block = blocks[best];
        block.Lines.push_back(index);
        block.X0 = std::min(block.X0, line.X0);
        block.X1 = std::max(block.X1, line.X1);
        block.Top = std::min(block.Top, line.Top);
        block.Bottom = std::max(block.Bottom, line.Bottom);
        // The block just grown is the likeliest for the next line: keep it among the recent.
        open.erase(std::find(open.begin(), open.end(), best));
        open.push_back(best);
    }
    return blocks;
}

using TGroups = std::vector<std::vector<std::size_t>>;

// Splits blocks into groups along one axis wherever no block crosses: bands (y) or columns (x).
TGroups split(const std::vector<TFrameBlock>& blocks, std::vector<std::size_t> members,
              bool columns) {
    const auto low = [&](std::size_t i) { return columns ? blocks[i].X0 : blocks[i].Top; };
    const auto high = [&](std::size_t i) { return columns ? blocks[i].X1 : blocks[i].Bottom; };
    std::stable_sort(members.begin(), members.end(),
                     [&](std::size_t a, std::size_t b) { return low(a) < low(b); });
    TGroups groups;
    double end = 0;
    for (const std::size_t i : members) {
        if (groups.empty() || low(i) >= end) {
            groups.emplace_back();
            end = high(i);
        }
        groups.back().push_back(i);
        end = std::max(end, high(i));
    }
    return groups;
}

void readTopToBottom(const std::vector<TFrameBlock>& blocks, std::vector<std::size_t> members,
                     std::vector<std::size_t>& out) {
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
        return blocks[a].Top < blocks[b].Top ||
               (blocks[a].Top == blocks[b].Top && blocks[a].X0 < blocks[b].X0);
    });
    out.insert(out.end(), members.begin(), members.end());
}

// Reading order of a region: bands top to bottom; consecutive bands that keep a common gutter
// read as one band of columns, so paragraph breaks that line up across columns do not cut
// them; columns left to right.
void readRegion(const std::vector<TFrameBlock>& blocks, const std::vector<std::size_t>& members,
                std::vector<std::size_t>& out, int depth) {
    if (members.size() <= 1 || depth > kMaxCutDepth) {
        readTopToBottom(blocks, members, out);
        return;
    }
    const TGroups bands = split(blocks, members, false);
    if (bands.size() == 1) {
        const TGroups columns = split(blocks, members, true);
        if (columns.size() == 1) {
            readTopToBottom(blocks, members, out);
            return;
        }
        for (const auto& column : columns)
            readRegion(blocks, column, out, depth + 1);
        return;
    }
    std::vector<std::size_t> merged;
    bool mergedHasGutter = false;
    const auto flush = [&] {
        if (merged.empty())
            return;
        if (mergedHasGutter && split(blocks, merged, false).size() > 1) {
            for (const auto& column : split(blocks, merged, true))
                readRegion(blocks, column, out, depth + 1);
        } else {
            readRegion(blocks, merged, out, depth + 1);
        }
        merged.clear();
    };
    for (const auto& band : bands) {
        const bool gutter = split(blocks, band, true).size() > 1;
        if (!merged.empty() && gutter && mergedHasGutter) {
            std::vector<std::size_t> both = merged;
            both.insert(both.end(), band.begin(), band.end());
            if (split(blocks, both, true).size() > 1) {
                merged = std::move(both);
                continue;
            }
        }
        flush();
        merged = band;
        mergedHasGutter = gutter;
    }
    flush();
}

// Whether text begins with a Han, kana, Hangul or full-width character.
bool isCJK(std::string_view text) {
    if (text.size() < 3)
        return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    char32_t c = 0;
    if ((byte(0) & 0xF0) == 0xE0)
        c = char32_t(byte(0) & 0x0F) << 12 | char32_t(byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    else if ((byte(0) & 0xF8) == 0xF0)
        return text.size() >= 4 && byte(0) == 0xF0 && byte(1) >= 0xA0; // U+20000 and on
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFFEF);
}

// A horizontal glyph stood up in its column: the column runs down through the glyph's middle,
// from its top.
void standUp(TReadingGlyph& g) {
    if (g.Vertical)
        return;
    const double upX = -g.DirY, upY = g.DirX;
    g.X += g.DirX * g.Advance / 2 + upX * g.Size * g.Ascent;
    g.Y += g.DirY * g.Advance / 2 + upY * g.Size * g.Ascent;
    g.DirX = -upX;
    g.DirY = -upY;
    g.Advance = g.Size;
    g.Vertical = true;
}

} // namespace

void TPDFReadingCollector::AddGlyph(const TPDFShownGlyph& glyph) {
    const TLast last = FLast;
    if (!glyph.Vertical)
        FLast.Valid = false;
    if (glyph.Text.empty()) {
        ++Unmapped;
        return;
    }
    if (Glyphs.size() >= TPDFReadingOrder::kMaxGlyphs) {
        ++Dropped;
        return;
    }
    const TPDFPoint origin = TransformPoint(Display, glyph.Origin.x, glyph.Origin.y);
    const TPDFPoint end = TransformPoint(Display, glyph.End.x, glyph.End.y);
    const TPDFPoint up = TransformPoint(Display, glyph.Up.x, glyph.Up.y);
    TReadingGlyph g;
    g.Text = glyph.Text;
    g.X = origin.x;
    g.Y = origin.y;
    const double upX = up.x - origin.x;
    const double upY = up.y - origin.y;
    g.Size = std::hypot(upX, upY);
    g.Advance = std::hypot(end.x - origin.x, end.y - origin.y);
    if (g.Advance > 0) {
        g.DirX = (end.x - origin.x) / g.Advance;
        g.DirY = (end.y - origin.y) / g.Advance;
    } else if (g.Size > 0) { // no advance: the direction a quarter turn clockwise from up
        g.DirX = upY / g.Size;
        g.DirY = -upX / g.Size;
    }
    g.Ascent = glyph.Ascent > 0 ? glyph.Ascent : 0.8;
    g.Descent = glyph.Descent < 0 ? -glyph.Descent : 0.2;
    g.Vertical = glyph.Vertical;
    if (g.Vertical) {
        Glyphs.push_back(std::move(g));
        return;
    }
    const TLast shown{true, Glyphs.size(), isCJK(g.Text), g.X, g.Y, g.DirX, g.DirY, g.Size};
    if (shown.CJK && last.Valid && last.CJK && std::fabs(g.Size - last.Size) < 0.05 * last.Size &&
        g.DirX * last.DirX + g.DirY * last.DirY > 0.99) {
        // Down from the last glyph by one to two lines, hardly aside.
        const double dx = g.X - last.X, dy = g.Y - last.Y;
        const double down = -(dx * -g.DirY + dy * g.DirX);
        const double aside = dx * g.DirX + dy * g.DirY;
        if (down > 0.8 * g.Size && down < 2.2 * g.Size && std::fabs(aside) < 0.25 * g.Size) {
            standUp(Glyphs[last.Index]);
            standUp(g);
        }
    }
    Glyphs.push_back(std::move(g));
    FLast = shown;
}

std::string ExpandLigatures(const std::string& text) {
    // U+FB00..U+FB06 are EF AC 80..86 in UTF-8.
    static constexpr std::array<const char*, 7> kLetters{"ff",  "fi", "fl", "ffi",
                                                         "ffl", "st", "st"};
    if (text.find("\xEF\xAC") == std::string::npos)
        return text;
    std::string result;
    result.reserve(text.size() + 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
        if (text.compare(i, 2, "\xEF\xAC") == 0 && third >= 0x80 && third <= 0x86) {
            result += kLetters[third - 0x80];
            i += 2;
            continue;
        }
        result += text[i];
    }
    return result;
}

TReadingLayout TPDFReadingOrder::LayOut(std::vector<TReadingGlyph> glyphs, double width,
                                        double height) {
    TReadingLayout layout;
    if (glyphs.size() > kMaxGlyphs) {
        layout.DroppedGlyphs = glyphs.size() - kMaxGlyphs;
        glyphs.resize(kMaxGlyphs);
    }
    std::array<std::vector<TFrameGlyph>, 4> frames;
    for (TReadingGlyph& glyph : glyphs) {
        if (glyph.Text.empty() || !(glyph.Size > 0) || !std::isfinite(glyph.X) ||
            !std::isfinite(glyph.Y) || !std::isfinite(glyph.Advance))
            continue;
        glyph.Text = ExpandLigatures(glyph.Text);
        // Vertical writing runs down its columns as text turned a quarter clockwise does.
        const int quarter =
            static_cast<int>(std::lround(std::atan2(glyph.DirY, glyph.DirX) / (kPi / 2))) & 3;
        const TFrame frame{quarter, width, height};
        TFrameGlyph g;
        g.Text = &glyph.Text;
        frame.ToFrame(glyph.X, glyph.Y, g.X0, g.Base);
        g.X1 = g.X0 + std::max(0.0, glyph.Advance);
        g.Size = glyph.Size;
        g.Ascent = (glyph.Vertical ? 0.5 : glyph.Ascent) * glyph.Size;
        g.Descent = (glyph.Vertical ? 0.5 : glyph.Descent) * glyph.Size;
        g.Space = isBlank(glyph.Text);
        frames[static_cast<std::size_t>(quarter)].push_back(g);
    }

    std::int32_t blockNumber = 0;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const TFrame frame{quarter, width, height};
        const std::vector<TFrameGlyph> kept = dropDuplicates(
            std::move(frames[static_cast<std::size_t>(quarter)]), layout.DroppedGlyphs);
        std::vector<TFrameLine> lines = buildLines(kept);
        std::vector<std::size_t> withWords;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            buildWords(lines[i], kept);
            if (!lines[i].Words.empty())
                withWords.push_back(i);
        }
        const std::vector<TFrameBlock> blocks = buildBlocks(lines, std::move(withWords));
        std::vector<std::size_t> all(blocks.size());
        std::iota(all.begin(), all.end(), std::size_t{0});
        std::vector<std::size_t> order;
        readRegion(blocks, all, order, 0);
        for (const std::size_t b : order) {
            std::int32_t lineNumber = 0;
            for (const std::size_t l : blocks[b].Lines) {
                std::int32_t wordNumber = 0;
                for (const TFrameWord& word : lines[l].Words) {
                    double ax = 0, ay = 0, bx = 0, by = 0;
                    frame.ToDisplay(word.X0, word.Top, ax, ay);
                    frame.ToDisplay(word.X1, word.Bottom, bx, by);
                    layout.Words.push_back(TReadingWord{word.Text, std::min(ax, bx),
                                                        height - std::max(ay, by), std::max(ax, bx),
                                                        height - std::min(ay, by), word.Size,
                                                        blockNumber, lineNumber, wordNumber++});
                }
                ++lineNumber;
            }
            ++blockNumber;
        }
    }
    return layout;
}

std::string TPDFReadingOrder::Text(const TReadingLayout& layout) {
    std::string text;
    const TReadingWord* previous = nullptr;
    for (const TReadingWord& word : layout.Words) {
        if (previous) {
            if (word.Block != previous->Block)
                text += "\n\n";
            else if (word.Line != previous->Line)
                text += '\n';
            else
                text += ' ';
        }
        text += word.Text;
        previous = &word;
    }
    if (!text.empty())
        text += '\n';
    return text;
}

} // namespace korvel
