#include "text/uPDFReadingOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <fribidi.h>

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
// A subscript inside a line (between its letters, as in H2O) may sit lower: a line of at most
// kInnerScriptGlyphs smaller glyphs, this far below a larger line's baseline and within its
// extent, belongs to it. Small print below a line's end, a line of its own, is longer.
constexpr double kInnerScriptDrop = 0.55;
constexpr std::size_t kInnerScriptGlyphs = 3;
constexpr double kInnerScriptGap = 0.15; // of the line's size, from the letter before it
// Lines above a short line looked at for the line it belongs to.
constexpr std::size_t kInnerScriptLines = 16;
// A line joins the block above when its baseline is at most this many font sizes lower and
// the sizes are alike.
constexpr double kBlockLeading = 1.6;
constexpr double kBlockSizeRatio = 1.34;
// Open blocks a line is compared with; more (a hostile pile of lines) start new blocks.
constexpr std::size_t kMaxOpenBlocks = 64;
// Nesting of the reading-order cuts; deeper regions are read top to bottom.
constexpr int kMaxCutDepth = 64;
// A table's cells: lines at most this share of the table's width wide (the median) and of at
// most so many words, and this share of them on a baseline shared with another column.
constexpr double kTableCellWidth = 0.25;
constexpr std::size_t kTableCellWords = 4;
constexpr double kTableSharedLines = 0.6;
// Two columns are a table only when the gutter between them is at most this many cells wide.
constexpr double kTablePairGutter = 2;
// A gutter: a gap at least this share of the font size wide, kept empty by so many lines one
// after another (looking this many lines up and down, at most this many sizes apart).
constexpr double kGutterWidth = 0.8;
constexpr std::size_t kGutterLines = 4;
constexpr std::size_t kGutterReach = 12;
constexpr double kGutterLeading = 3;
// A column left of a gutter is this many font sizes wide somewhere: list marks are not.
constexpr double kGutterColumn = 4;
// Words of a line looked at for one strip; more crowd it shut.
constexpr std::size_t kGutterWords = 16;
// Letter spacing stops at this share of the size: wider even gaps part the glyphs of a
// chart of characters, each in a cell of its own.
constexpr double kMaxLetterGap = 0.6;
// A space glyph reaching this share of its size into a letter beside it parts no words.
constexpr double kSpaceOverlap = 0.1;
// A block continues a column above it when it keeps within the column's extent, give or take
// this share of its width.
constexpr double kColumnSlack = 0.02;

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
    // Its glyphs, left to right: the glyphs that are not blank among those from First to Last
    // of its direction's glyph order (see TFrameLine).
    std::uint32_t First = 0, Last = 0;
};

struct TFrameLine {
    std::span<const std::uint32_t> Glyphs; // in x order: a part of its direction's glyph order
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

// Kept glyphs filed by key: buckets of chained glyphs, each glyph's key kept beside it, so a
// lookup reads one bucket and the glyphs filed under that exact key are those of its chain
// whose key matches. Glyph numbers fit 32 bits: a layout takes at most kMaxGlyphs glyphs.
class TGlyphCells {
public:
    static constexpr std::uint32_t kNone = static_cast<std::uint32_t>(-1);
    static_assert(TPDFReadingOrder::kMaxGlyphs < kNone);

    explicit TGlyphCells(std::size_t glyphs) {
        std::size_t size = 16;
        while (size < 4 * glyphs)
            size *= 2;
        FHeads.assign(size, kNone);
        FMask = size - 1;
        FNextOf.reserve(glyphs);
        FKeyOf.reserve(glyphs);
    }
    // The last glyph filed under the key; kNone when none is.
    std::uint32_t Find(std::uint64_t key) const { return matching(FHeads[mix(key) & FMask], key); }
    // The glyph filed under the same key before this one; kNone when none was.
    std::uint32_t Next(std::uint32_t glyph) const {
        return matching(FNextOf[glyph], FKeyOf[glyph]);
    }
    // Files the next kept glyph (kept glyphs are filed or passed over in their order).
    void File(std::uint64_t key, bool filed) {
        const auto glyph = static_cast<std::uint32_t>(FNextOf.size());
        std::uint32_t next = kNone;
        if (filed) {
            std::uint32_t& head = FHeads[mix(key) & FMask];
            next = head;
            head = glyph;
        }
        FNextOf.push_back(next);
        FKeyOf.push_back(key);
    }

private:
    // The first glyph from `glyph` on along its chain filed under `key`.
    std::uint32_t matching(std::uint32_t glyph, std::uint64_t key) const {
        while (glyph != kNone && FKeyOf[glyph] != key)
            glyph = FNextOf[glyph];
        return glyph;
    }
    static std::size_t mix(std::uint64_t key) {
        key ^= key >> 31;
        key *= 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(key ^ (key >> 29));
    }
    std::vector<std::uint32_t> FHeads;
    std::vector<std::uint32_t> FNextOf; // kept glyph -> the one filed in its bucket before it
    std::vector<std::uint64_t> FKeyOf;  // kept glyph -> its key
    std::size_t FMask = 0;
};

// A cheap key of a glyph's text: its bytes when they fit a word, else their FNV-1a hash.
// Equal texts have equal keys; candidates are compared by their texts.
std::uint64_t textKey(const std::string& text) {
    std::uint64_t key = text.size();
    if (text.size() <= 7) {
        for (std::size_t i = 0; i < text.size(); ++i)
            key |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i + 8);
        return key;
    }
    key = 0xCBF29CE484222325ull;
    for (const char c : text)
        key = (key ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return key;
}

// Glyphs drawn over one another with the same text (fake bold, shadows) count once: a glyph
// whose text equals a kept glyph's, within the tolerance (at most 1) of it in both directions,
// is dropped. Kept glyphs are filed by their text and the cell (four units square) of their
// origin, so the cells the tolerance reaches (at most two by two) hold every candidate. The
// kept glyphs stay in their order.
void dropDuplicates(std::vector<TFrameGlyph>& glyphs, std::size_t& dropped) {
    TGlyphCells cells(glyphs.size());
    const auto key = [](long long cx, long long cy, std::uint64_t textHash) {
        return static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull ^
               static_cast<std::uint64_t>(cy) * 0xC2B2AE3D27D4EB4Full ^ textHash;
    };
    constexpr double kCell = 4;
    const auto cell = [](double v) { // floor(v / kCell), as an integer, without a call
        const double c = std::clamp(v / kCell, -1e18, 1e18);
        const auto truncated = static_cast<long long>(c);
        return truncated - (c < static_cast<double>(truncated) ? 1 : 0);
    };
    std::size_t kept = 0;
    for (TFrameGlyph& glyph : glyphs) {
        const double tolerance = std::min(0.1 * glyph.Size, 1.0);
        const long long cx = cell(glyph.X0);
        const long long cy = cell(glyph.Base);
        long long xFrom = cx - 1, xTo = cx + 1, yFrom = cy - 1, yTo = cy + 1;
        // Cells the tolerance cannot reach hold no candidate.
        constexpr double kExact = 1e15;
        if (std::isfinite(tolerance) && std::abs(glyph.X0) < kExact &&
            std::abs(glyph.Base) < kExact) {
            xFrom = std::max(xFrom, cell(glyph.X0 - tolerance));
            xTo = std::min(xTo, cell(glyph.X0 + tolerance));
            yFrom = std::max(yFrom, cell(glyph.Base - tolerance));
            yTo = std::min(yTo, cell(glyph.Base + tolerance));
        }
        const std::uint64_t textHash = textKey(*glyph.Text);
        bool duplicate = false;
        for (long long dx = xFrom; dx <= xTo && !duplicate; ++dx)
            for (long long dy = yFrom; dy <= yTo && !duplicate; ++dy)
                for (std::uint32_t other = cells.Find(key(dx, dy, textHash));
                     other != TGlyphCells::kNone; other = cells.Next(other)) {
                    const TFrameGlyph& o = glyphs[other];
                    if (*o.Text == *glyph.Text && std::abs(o.X0 - glyph.X0) <= tolerance &&
                        std::abs(o.Base - glyph.Base) <= tolerance) {
                        duplicate = true;
                        break;
                    }
                }
        if (duplicate) {
            ++dropped;
            continue;
        }
        cells.File(key(cx, cy, textHash), !glyph.Space);
        if (&glyphs[kept] != &glyph)
            glyphs[kept] = glyph;
        ++kept;
    }
    glyphs.resize(kept);
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

// The lines a sweep from left to right may still extend, by baseline: a sorted vector, ordered as
// a multimap is (equal baselines in the order they were added). The open lines of a page are
// few, so moving entries costs less than a tree's nodes; a page of more glyphs than
// kVectorLines could open as many lines as glyphs, and takes the multimap.
constexpr std::size_t kVectorLines = 8192;
class TOpenLines {
public:
    using TEntry = std::pair<double, std::size_t>; // baseline, line
    using TIterator = std::vector<TEntry>::iterator;
    TIterator begin() { return FEntries.begin(); }
    TIterator end() { return FEntries.end(); }
    // The first entry whose baseline is not below `base`: a search without branches, as the
    // sweep asks for every glyph.
    TIterator lower_bound(double base) {
        std::size_t n = FEntries.size();
        if (n == 0)
            return FEntries.end();
        const TEntry* first = FEntries.data();
        while (n > 1) {
            const std::size_t half = n / 2;
            first = first[half].first < base ? first + half : first;
            n -= half;
        }
        return FEntries.begin() + (first - FEntries.data()) + (first->first < base ? 1 : 0);
    }
    void emplace(double base, std::size_t line) {
        const auto at =
            std::upper_bound(FEntries.begin(), FEntries.end(), base,
                             [](double key, const TEntry& entry) { return key < entry.first; });
        FEntries.insert(at, TEntry{base, line});
    }
    TIterator erase(TIterator at) { return FEntries.erase(at); }
    std::size_t size() const { return FEntries.size(); }
    template <class TDone> void prune(TDone done) {
        FEntries.erase(std::remove_if(FEntries.begin(), FEntries.end(),
                                      [&](const TEntry& entry) { return done(entry.second); }),
                       FEntries.end());
    }

private:
    std::vector<TEntry> FEntries;
};

// Drops the open lines `done` says no later glyph can extend; the others keep their order.
template <class TDone> void prune(std::multimap<double, std::size_t>& open, TDone done) {
    for (auto it = open.begin(); it != open.end();)
        it = done(it->second) ? open.erase(it) : std::next(it);
}
template <class TDone> void prune(TOpenLines& open, TDone done) {
    open.prune(done);
}

// Glyph numbers in the order of their left edges; glyphs at one x keep their order. A stable
// radix sort by the bytes of each edge, as an unsigned number that orders as the edges do.
std::vector<std::uint32_t> leftToRight(const std::vector<TFrameGlyph>& glyphs) {
    const std::size_t n = glyphs.size();
    std::vector<std::uint64_t> keys(n), keysTo(n);
    std::vector<std::uint32_t> order(n), orderTo(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = glyphs[i].X0 + 0.0; // -0 and 0 are one edge
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        keys[i] = (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
        order[i] = static_cast<std::uint32_t>(i);
    }
    // The counts of every byte's values, all taken in one pass.
    std::vector<std::array<std::uint32_t, 256>> counts(8);
    for (const std::uint64_t key : keys)
        for (int b = 0; b < 8; ++b)
            ++counts[static_cast<std::size_t>(b)][(key >> (8 * b)) & 0xFF];
    for (int b = 0; b < 8; ++b) {
        const int shift = 8 * b;
        std::array<std::uint32_t, 256>& count = counts[static_cast<std::size_t>(b)];
        if (n == 0 || count[(keys[0] >> shift) & 0xFF] == n)
            continue; // every key has this byte
        std::uint32_t sum = 0;
        for (std::uint32_t& c : count)
            sum += std::exchange(c, sum);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t at = count[(keys[i] >> shift) & 0xFF]++;
            keysTo[at] = keys[i];
            orderTo[at] = order[i];
        }
        keys.swap(keysTo);
        order.swap(orderTo);
    }
    return order;
}

// Short lines of smaller glyphs lying lower than a script may, between the letters of a larger
// line just above, join that line (see kInnerScriptDrop): the nearest such line takes them
// when a letter of it ends where they begin and another follows. Lines joined away keep no
// glyphs. The lines' glyphs are in x order; true when any line was joined.
bool joinInnerScripts(const std::vector<TFrameLine>& lines, const std::vector<TFrameGlyph>& glyphs,
                      std::vector<std::uint32_t>& lineOf) {
    std::vector<std::uint32_t> glyphCount(lines.size(), 0);
    for (const std::uint32_t line : lineOf)
        ++glyphCount[line];
    std::vector<std::uint32_t> byBase(lines.size()); // the lines by baseline
    std::vector<std::uint32_t> joinedTo(lines.size());
    bool anyShort = false;
    for (std::uint32_t l = 0; l < lines.size(); ++l) {
        byBase[l] = joinedTo[l] = l;
        anyShort = anyShort || glyphCount[l] <= kInnerScriptGlyphs;
    }
    if (!anyShort)
        return false;
    bool joined = false;
    std::stable_sort(byBase.begin(), byBase.end(), [&lines](std::uint32_t a, std::uint32_t b) {
        return lines[a].Base < lines[b].Base;
    });
    for (std::uint32_t l = 0; l < lines.size(); ++l) {
        if (glyphCount[l] == 0 || glyphCount[l] > kInnerScriptGlyphs)
            continue;
        const TFrameLine& script = lines[l];
        // Lines above it (frame y grows downwards), nearest first.
        auto above = std::lower_bound(
            byBase.begin(), byBase.end(), script.Base,
            [&lines](std::uint32_t m, double base) { return lines[m].Base < base; });
        for (std::size_t n = 0; n < kInnerScriptLines && above != byBase.begin(); ++n) {
            const std::uint32_t m = *--above;
            const TFrameLine& line = lines[m];
            const double drop = script.Base - line.Base;
            if (drop > kInnerScriptDrop * line.Size || glyphCount[m] <= glyphCount[l] ||
                joinedTo[m] != m)
                continue;
            if (!(script.Size < kScriptRatio * line.Size && drop > kSameBaseline * script.Size &&
                  line.X0 < script.X0 && script.X1 < line.X1))
                continue;
            // A letter before it ends where it begins (one of the few before it: a script above
            // may start there too).
            auto before =
                std::upper_bound(line.Glyphs.begin(), line.Glyphs.end(), script.X0,
                                 [&glyphs](double x, std::uint32_t g) { return x < glyphs[g].X0; });
            bool touching = false;
            for (int k = 0; k < 4 && before != line.Glyphs.begin() && !touching; ++k) {
                const TFrameGlyph& letter = glyphs[*--before];
                const double gap = script.X0 - letter.X1;
                touching = !letter.Space && gap >= -kInnerScriptGap * line.Size &&
                           gap <= kInnerScriptGap * line.Size;
            }
            if (!touching)
                continue;
            joinedTo[l] = m;
            joined = true;
            break;
        }
    }
    if (joined)
        for (std::uint32_t& line : lineOf)
            line = joinedTo[line];
    return joined;
}

template <class TOpen>
std::vector<TFrameLine> buildLinesWith(const std::vector<TFrameGlyph>& glyphs,
                                       std::vector<std::uint32_t>& glyphOrder) {
    const std::vector<std::uint32_t> order = leftToRight(glyphs);
    std::vector<std::uint32_t> lineOf(glyphs.size());
    std::vector<TFrameLine> lines;
    TOpen open; // baseline -> line
    // A line ending this far left of a glyph is ended for it and for every glyph after it.
    const auto ended = [&lines](std::size_t line, double x) {
        return lines[line].X1 + 3 * TPDFReadingOrder::kLineGap * lines[line].Size + 1 < x;
    };
    std::size_t pruned = 0; // open lines after the last pruning
    for (const std::uint32_t index : order) {
        const TFrameGlyph& g = glyphs[index];
        // Ended lines are dropped when the sweep passes them, and all at once whenever the
        // open lines doubled: a page of many short lines keeps few open.
        if (open.size() > 2 * pruned + 32) {
            prune(open, [&](std::size_t line) { return ended(line, g.X0); });
            pruned = open.size();
        }
        const double reach = 1.5 * g.Size + 2;
        std::size_t best = lines.size();
        int bestRelation = 2;
        double bestGap = 0;
        auto it = open.lower_bound(g.Base - reach);
        while (it != open.end() && it->first <= g.Base + reach) {
            TFrameLine& line = lines[it->second];
            const double size = std::max(line.Size, g.Size);
            if (ended(it->second, g.X0)) {
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
            lineOf[index] = static_cast<std::uint32_t>(lines.size());
            lines.push_back(std::move(line));
            open.emplace(g.Base, lines.size() - 1);
            continue;
        }
        TFrameLine& line = lines[best];
        lineOf[index] = static_cast<std::uint32_t>(best);
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
    // Each line's glyphs in x order, one line after another; again after subscripts joined.
    const auto distribute = [&] {
        std::vector<std::uint32_t> start(lines.size() + 1, 0);
        for (const std::uint32_t line : lineOf)
            ++start[line + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        glyphOrder.resize(glyphs.size());
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (const std::uint32_t index : order)
            glyphOrder[next[lineOf[index]]++] = index;
        for (std::size_t l = 0; l < lines.size(); ++l)
            lines[l].Glyphs = std::span<const std::uint32_t>(glyphOrder)
                                  .subspan(start[l], start[l + 1] - start[l]);
    };
    distribute();
    if (joinInnerScripts(lines, glyphs, lineOf))
        distribute();
    return lines;
}

// Lines of glyphs; `glyphOrder` receives every line's glyphs in x order, which the lines'
// Glyphs show.
std::vector<TFrameLine> buildLines(const std::vector<TFrameGlyph>& glyphs,
                                   std::vector<std::uint32_t>& glyphOrder) {
    if (glyphs.size() <= kVectorLines)
        return buildLinesWith<TOpenLines>(glyphs, glyphOrder);
    return buildLinesWith<std::multimap<double, std::size_t>>(glyphs, glyphOrder);
}

// The words' extent after a line's words changed.
void measureLine(TFrameLine& line) {
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

// Buffers the words of one line after another are built in.
struct TWordScratch {
    std::vector<char> Parting;
    std::vector<double> Gaps;
};

// Which glyphs of a line (in x order) are spaces that part words. A space drawn over the
// letters next to it (a field of blanks under another field's text) parts nothing.
void partingSpaces(const TFrameLine& line, const std::vector<TFrameGlyph>& glyphs,
                   std::vector<char>& parting) {
    const std::size_t n = line.Glyphs.size();
    parting.assign(n, 0);
    const TFrameGlyph* previous = nullptr;
    // The first glyph after the current space that is not a space, and its place.
    const TFrameGlyph* next = nullptr;
    std::size_t nextAt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TFrameGlyph& g = glyphs[line.Glyphs[i]];
        if (!g.Space) {
            previous = &g;
            continue;
        }
        if (nextAt <= i) {
            nextAt = i + 1;
            while (nextAt < n && glyphs[line.Glyphs[nextAt]].Space)
                ++nextAt;
            next = nextAt < n ? &glyphs[line.Glyphs[nextAt]] : nullptr;
        }
        const double tolerance = kSpaceOverlap * g.Size;
        parting[i] = !(previous && g.X0 < previous->X1 - tolerance) &&
                     !(next && g.X1 > next->X0 + tolerance);
    }
}

// The gap between letters that most of a line's neighbouring glyphs keep: about nothing in
// ordinary text, the spacing itself in letter-spaced text. Glyph boxes are their drawn widths,
// so spacing that a table's cells are pushed apart by shows as a gap.
double usualLetterGap(const TFrameLine& line, const std::vector<TFrameGlyph>& glyphs,
                      const std::vector<char>& parting, std::vector<double>& gaps) {
    gaps.clear();
    const TFrameGlyph* previous = nullptr;
    for (std::size_t i = 0; i < line.Glyphs.size(); ++i) {
        const TFrameGlyph& g = glyphs[line.Glyphs[i]];
        if (g.Space) {
            if (parting[i])
                previous = nullptr;
            continue;
        }
        if (previous)
            gaps.push_back(g.X0 - previous->X1);
        previous = &g;
    }
    if (gaps.size() < 3) // too few to tell spacing from a gap
        return 0;
    const auto middle = gaps.begin() + static_cast<std::ptrdiff_t>((gaps.size() - 1) / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return std::max(0.0, *middle);
}

void buildWords(TFrameLine& line, const std::vector<TFrameGlyph>& glyphs,
                const std::vector<std::uint32_t>& glyphOrder, TWordScratch& scratch) {
    const auto first = static_cast<std::uint32_t>(line.Glyphs.data() - glyphOrder.data());
    std::vector<char>& parting = scratch.Parting;
    partingSpaces(line, glyphs, parting);
    const double letterGap = 1.5 * usualLetterGap(line, glyphs, parting, scratch.Gaps);
    bool broken = true;
    const TFrameGlyph* previous = nullptr;
    for (std::size_t i = 0; i < line.Glyphs.size(); ++i) {
        const TFrameGlyph& g = glyphs[line.Glyphs[i]];
        if (g.Space) {
            broken = broken || parting[i];
            continue;
        }
        const double size = previous ? std::max(previous->Size, g.Size) : g.Size;
        if (previous && !broken &&
            g.X0 - previous->X1 >
                TPDFReadingOrder::kWordGap * size + std::min(letterGap, kMaxLetterGap * size))
            broken = true;
        if (broken || line.Words.empty()) {
            const auto at = static_cast<std::uint32_t>(first + i);
            line.Words.push_back(TFrameWord{std::string(), g.X0, g.X1, g.Base - g.Ascent,
                                            g.Base + g.Descent, g.Size, at, at});
            broken = false;
        }
        TFrameWord& word = line.Words.back();
        word.Text += *g.Text;
        word.Last = static_cast<std::uint32_t>(first + i);
        word.X0 = std::min(word.X0, g.X0);
        word.X1 = std::max(word.X1, g.X1);
        word.Top = std::min(word.Top, g.Base - g.Ascent);
        word.Bottom = std::max(word.Bottom, g.Base + g.Descent);
        word.Size = std::max(word.Size, g.Size);
        previous = &g;
    }
    if (!line.Words.empty())
        measureLine(line);
}

// Columns whose gutter is narrower than a line's own gaps may allow are joined into one line
// by the baseline; a gap in a line is a gutter when the lines above and below it, one after
// another, leave a common strip empty with words on both sides. Gaps of justified lines fall
// anywhere and do not line up. Lines are cut at their gutters; the pieces are added.
void splitAtGutters(std::vector<TFrameLine>& lines) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (!lines[i].Words.empty())
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&lines](std::size_t a, std::size_t b) {
        return lines[a].Base < lines[b].Base;
    });
    // Per line: the largest end of its words up to each word (they are in x order of start).
    std::vector<std::vector<double>> reach(lines.size());
    for (const std::size_t i : order) {
        double end = -std::numeric_limits<double>::infinity();
        for (const TFrameWord& word : lines[i].Words)
            reach[i].push_back(end = std::max(end, word.X1));
    }
    // The widest part of the strip [a, b] that a line's words leave empty.
    std::vector<std::pair<double, double>> covered;
    const auto narrowed = [&](std::size_t i, double a, double b) {
        const auto& words = lines[i].Words;
        const auto at = std::lower_bound(words.begin(), words.end(), b,
                                         [](const TFrameWord& w, double x) { return w.X0 < x; });
        covered.clear();
        for (auto k = static_cast<std::size_t>(at - words.begin()); k-- > 0;) {
            if (reach[i][k] <= a)
                break; // no word up to this one reaches into the strip
            if (covered.size() == kGutterWords)
                return std::pair<double, double>(a, a); // a crowd of words: no gutter
            if (words[k].X1 > a)
                covered.emplace_back(words[k].X0, words[k].X1);
        }
        std::sort(covered.begin(), covered.end());
        std::pair<double, double> best(a, a);
        double from = a;
        for (const auto& [x0, x1] : covered) {
            if (std::min(x0, b) - from > best.second - best.first)
                best = {from, std::min(x0, b)};
            from = std::max(from, x1);
        }
        if (b - from > best.second - best.first)
            best = {from, b};
        return best;
    };
    std::vector<std::vector<std::size_t>> cuts(lines.size()); // words that start a piece
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const std::size_t i = order[rank];
        const TFrameLine& line = lines[i];
        for (std::size_t k = 1; k < line.Words.size(); ++k) {
            const double a = reach[i][k - 1];
            const double b = line.Words[k].X0;
            const double least = kGutterWidth * line.Size;
            if (b - a < least)
                continue;
            // The lines above and below must keep one strip empty, common to all of them:
            // search one way, then the other from what the first left, both ways round.
            std::size_t agreeing = 0;
            double leftWidth = 0; // the widest text left of the strip
            for (const int first : {-1, 1}) {
                std::size_t count = 1;
                double width = a - line.X0;
                double x0 = a, x1 = b;
                for (const int step : {first, -first}) {
                    double base = line.Base;
                    for (std::size_t n = 1; n <= kGutterReach && count < kGutterLines; ++n) {
                        const std::ptrdiff_t other = static_cast<std::ptrdiff_t>(rank) +
                                                     step * static_cast<std::ptrdiff_t>(n);
                        if (other < 0 || other >= static_cast<std::ptrdiff_t>(order.size()))
                            break;
                        const std::size_t m = order[static_cast<std::size_t>(other)];
                        if (std::abs(lines[m].Base - base) > kGutterLeading * line.Size)
                            break;
                        base = lines[m].Base;
                        if (lines[m].X1 <= x0 || lines[m].X0 >= x1)
                            continue; // wholly to one side: it leaves the strip empty
                        const auto [na, nb] = narrowed(m, x0, x1);
                        if (nb - na < least)
                            break;
                        x0 = na, x1 = nb;
                        if (lines[m].X0 < x0 && lines[m].X1 > x1) { // words on both sides
                            ++count;
                            width = std::max(width, x0 - lines[m].X0);
                        }
                    }
                }
                if (count > agreeing || (count == agreeing && width > leftWidth))
                    agreeing = count, leftWidth = width;
                if (agreeing >= kGutterLines)
                    break;
            }
            if (agreeing >= kGutterLines && leftWidth >= kGutterColumn * line.Size)
                cuts[i].push_back(k);
        }
    }
    const std::size_t count = lines.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (cuts[i].empty())
            continue;
        std::vector<TFrameWord> words = std::move(lines[i].Words);
        std::vector<TFrameLine> pieces;
        std::size_t from = 0;
        cuts[i].push_back(words.size());
        for (const std::size_t to : cuts[i]) {
            TFrameLine piece;
            piece.Base = lines[i].Base;
            piece.Size = lines[i].Size;
            for (std::size_t k = from; k < to; ++k)
                piece.Words.push_back(std::move(words[k]));
            measureLine(piece);
            pieces.push_back(std::move(piece));
            from = to;
        }
        lines[i] = std::move(pieces.front());
        for (std::size_t p = 1; p < pieces.size(); ++p)
            lines.push_back(std::move(pieces[p]));
    }
}

std::vector<TFrameBlock> buildBlocks(const std::vector<TFrameLine>& lines,
                                     std::vector<std::size_t> order) {
    std::stable_sort(order.begin(), order.end(), [&lines](std::size_t a, std::size_t b) {
        return lines[a].Base < lines[b].Base ||
               (lines[a].Base == lines[b].Base && lines[a].X0 < lines[b].X0);
    });
    // Lines on one baseline, side by side: a row of the page. `rowOf` takes a line to the
    // first and last place of its row in `order`.
    std::vector<std::pair<std::size_t, std::size_t>> rowOf(lines.size());
    for (std::size_t at = 0; at < order.size();) {
        std::size_t end = at + 1;
        const TFrameLine& first = lines[order[at]];
        while (end < order.size() &&
               lines[order[end]].Base - first.Base <=
                   kSameBaseline * std::min(first.Size, lines[order[end]].Size))
            ++end;
        for (std::size_t k = at; k < end; ++k)
            rowOf[order[k]] = {at, end};
        at = end;
    }
    const auto alone = [&](std::size_t index) {
        return rowOf[index].second - rowOf[index].first == 1;
    };
    // A line alone on its baseline over a row of several lines, reaching over another of them,
    // is the end of a paragraph above a table or columns: the row's lines start blocks of
    // their own.
    const auto underAWideLine = [&](const TFrameLine& last, std::size_t lastIndex,
                                    std::size_t index) {
        if (!alone(lastIndex) || alone(index))
            return false;
        for (std::size_t k = rowOf[index].first; k < rowOf[index].second; ++k) {
            const TFrameLine& other = lines[order[k]];
            if (order[k] != index && std::min(last.X1, other.X1) > std::max(last.X0, other.X0))
                return true;
        }
        return false;
    };
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
                (best == blocks.size() || drop < bestDistance) &&
                !underAWideLine(last, block.Lines.back(), index)) {
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

// The lines and blocks of one direction; a table read as rows adds a block of its own and a
// line for each row.
struct TRegions {
    std::vector<TFrameLine>& Lines;
    std::vector<TFrameBlock>& Blocks;
};

// Columns of a region whose lines are short cells sharing baselines across the columns are a
// table: its rows are read one by one, cells left to right on one line, as one block.
// Columns of prose also share baselines, but their lines are long and hold many words.
bool readAsTable(TRegions& r, const TGroups& columns, std::vector<std::size_t>& out) {
    if (columns.size() < 2)
        return false;
    struct TCell {
        std::size_t Line;
        std::size_t Column;
    };
    std::vector<TCell> cells;
    double x0 = 0, x1 = 0;
    for (std::size_t c = 0; c < columns.size(); ++c)
        for (const std::size_t b : columns[c]) {
            const TFrameBlock& block = r.Blocks[b];
            x0 = cells.empty() ? block.X0 : std::min(x0, block.X0);
            x1 = cells.empty() ? block.X1 : std::max(x1, block.X1);
            for (const std::size_t l : block.Lines)
                cells.push_back({l, c});
        }
    if (cells.size() < 4)
        return false;
    std::vector<double> widths;
    std::vector<std::size_t> wordCounts;
    for (const TCell& cell : cells) {
        widths.push_back(r.Lines[cell.Line].X1 - r.Lines[cell.Line].X0);
        wordCounts.push_back(r.Lines[cell.Line].Words.size());
    }
    const std::size_t middle = cells.size() / 2;
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(middle),
                     widths.end());
    std::nth_element(wordCounts.begin(), wordCounts.begin() + static_cast<std::ptrdiff_t>(middle),
                     wordCounts.end());
    if (widths[middle] > kTableCellWidth * (x1 - x0) || wordCounts[middle] > kTableCellWords)
        return false;
    if (columns.size() == 2) { // two lists side by side far apart read as columns
        double leftEnd = 0, rightStart = 0;
        for (const std::size_t b : columns[0])
            leftEnd = std::max(leftEnd, r.Blocks[b].X1);
        rightStart = r.Blocks[columns[1].front()].X0;
        for (const std::size_t b : columns[1])
            rightStart = std::min(rightStart, r.Blocks[b].X0);
        if (rightStart - leftEnd > kTablePairGutter * widths[middle])
            return false;
    }

    std::stable_sort(cells.begin(), cells.end(), [&r](const TCell& a, const TCell& b) {
        return r.Lines[a.Line].Base < r.Lines[b.Line].Base;
    });
    std::vector<std::vector<TCell>> rows;
    for (const TCell& cell : cells) {
        const TFrameLine& line = r.Lines[cell.Line];
        if (!rows.empty()) {
            const TFrameLine& first = r.Lines[rows.back().front().Line];
            if (line.Base - first.Base <= kSameBaseline * std::min(first.Size, line.Size)) {
                rows.back().push_back(cell);
                continue;
            }
        }
        rows.push_back({cell});
    }
    std::size_t shared = 0, sharedRows = 0;
    for (const auto& row : rows) {
        const bool across = std::any_of(row.begin(), row.end(), [&row](const TCell& cell) {
            return cell.Column != row.front().Column;
        });
        if (across) {
            shared += row.size();
            ++sharedRows;
        }
    }
    if (sharedRows < 2 || static_cast<double>(shared) < kTableSharedLines * cells.size())
        return false;

    TFrameBlock table;
    for (const auto& row : rows) {
        TFrameLine merged;
        for (const TCell& cell : row) {
            TFrameLine& line = r.Lines[cell.Line];
            for (TFrameWord& word : line.Words)
                merged.Words.push_back(std::move(word));
            line.Words.clear();
        }
        std::stable_sort(merged.Words.begin(), merged.Words.end(),
                         [](const TFrameWord& a, const TFrameWord& b) { return a.X0 < b.X0; });
        const TFrameLine& first = r.Lines[row.front().Line];
        merged.Base = first.Base;
        merged.Size = first.Size;
        merged.X0 = merged.Words.front().X0;
        merged.X1 = merged.Words.back().X1;
        merged.Top = first.Top;
        merged.Bottom = first.Bottom;
        for (const TFrameWord& word : merged.Words) {
            merged.X1 = std::max(merged.X1, word.X1);
            merged.Top = std::min(merged.Top, word.Top);
            merged.Bottom = std::max(merged.Bottom, word.Bottom);
        }
        table.X0 = table.Lines.empty() ? merged.X0 : std::min(table.X0, merged.X0);
        table.X1 = table.Lines.empty() ? merged.X1 : std::max(table.X1, merged.X1);
        table.Top = table.Lines.empty() ? merged.Top : std::min(table.Top, merged.Top);
        table.Bottom = table.Lines.empty() ? merged.Bottom : std::max(table.Bottom, merged.Bottom);
        r.Lines.push_back(std::move(merged));
        table.Lines.push_back(r.Lines.size() - 1);
    }
    r.Blocks.push_back(std::move(table));
    out.push_back(r.Blocks.size() - 1);
    return true;
}

// Whether every block of a band lies within the extent of one of the columns of a region.
bool withinAColumn(const std::vector<TFrameBlock>& blocks, const std::vector<std::size_t>& region,
                   const std::vector<std::size_t>& band) {
    std::vector<std::pair<double, double>> extents;
    for (const auto& column : split(blocks, region, true)) {
        double x0 = blocks[column.front()].X0, x1 = blocks[column.front()].X1;
        for (const std::size_t b : column)
            x0 = std::min(x0, blocks[b].X0), x1 = std::max(x1, blocks[b].X1);
        extents.emplace_back(x0, x1);
    }
    return std::all_of(band.begin(), band.end(), [&](std::size_t b) {
        return std::any_of(extents.begin(), extents.end(), [&](const auto& extent) {
            const double slack = kColumnSlack * (extent.second - extent.first) + 1;
            return blocks[b].X0 >= extent.first - slack && blocks[b].X1 <= extent.second + slack;
        });
    });
}

// Reading order of a region: bands top to bottom; consecutive bands that keep a common gutter
// read as one band of columns, so paragraph breaks that line up across columns do not cut
// them; columns left to right, or a table's rows one by one.
void readRegion(TRegions& r, const std::vector<std::size_t>& members, std::vector<std::size_t>& out,
                int depth) {
    const std::vector<TFrameBlock>& blocks = r.Blocks;
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
        if (readAsTable(r, columns, out))
            return;
        for (const auto& column : columns)
            readRegion(r, column, out, depth + 1);
        return;
    }
    std::vector<std::size_t> merged;
    bool mergedHasGutter = false;
    const auto flush = [&] {
        if (merged.empty())
            return;
        if (mergedHasGutter && split(blocks, merged, false).size() > 1) {
            const TGroups columns = split(blocks, merged, true);
            if (!readAsTable(r, columns, out))
                for (const auto& column : columns)
                    readRegion(r, column, out, depth + 1);
        } else {
            readRegion(r, merged, out, depth + 1);
        }
        merged.clear();
    };
    for (const auto& band : bands) {
        const bool gutter = split(blocks, band, true).size() > 1;
        // A band of one column under a band of columns, within one of them, continues that
        // column: the last page of a paper whose right column ends early.
        if (!merged.empty() && mergedHasGutter && (gutter || withinAColumn(blocks, merged, band))) {
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

// Right-to-left scripts: Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic and their
// presentation forms. A line without any of these is left as it is.
bool mayBeRightToLeft(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xD6 && c <= 0xDF) // U+0580..U+07FF
            return true;
        if (c == 0xE0 && static_cast<unsigned char>(text[i + 1]) <= 0xA3) // U+0800..U+08FF
            return true;
        if (c == 0xEF) { // U+FB1D..U+FDFF, U+FE70..U+FEFF
            const auto d = static_cast<unsigned char>(text[i + 1]);
            if ((d >= 0xAC && d <= 0xB7) || d >= 0xB9)
                return true;
        }
    }
    return false;
}

// The words of a line are built left to right as the page shows them; a line holding
// right-to-left text is put back into the order it is read in (the bidirectional algorithm
// applied to the shown order, which for plain text undoes the display's reordering): the
// words' glyphs and the words themselves. A glyph's own text (a ligature, a cluster) is already
// in reading order and stays as it is; it takes part with the direction of its strong
// characters, or as a neutral when it holds both directions. Boxes stay with their words.
void readInLogicalOrder(std::vector<TFrameWord>& words, const std::vector<TFrameGlyph>& glyphs,
                        const std::vector<std::uint32_t>& glyphOrder) {
    bool any = false;
    for (const TFrameWord& word : words)
        if (mayBeRightToLeft(word.Text)) {
            any = true;
            break;
        }
    if (!any)
        return;
    std::vector<FriBidiChar> units;         // one character for each glyph, a space between words
    std::vector<std::pair<int, int>> owner; // word and glyph of each unit; -1 for a space
    std::vector<FriBidiChar> decoded;
    for (std::size_t w = 0; w < words.size(); ++w) {
        if (w > 0) {
            units.push_back(' ');
            owner.emplace_back(-1, -1);
        }
        for (std::uint32_t k = words[w].First; k <= words[w].Last; ++k) {
            const TFrameGlyph& glyph = glyphs[glyphOrder[k]];
            if (glyph.Space)
                continue;
            const std::string& text = *glyph.Text;
            decoded.resize(text.size() + 1);
            const FriBidiStrIndex n = fribidi_charset_to_unicode(
                FRIBIDI_CHAR_SET_UTF8, text.data(), static_cast<FriBidiStrIndex>(text.size()),
                decoded.data());
            FriBidiChar unit = n > 0 ? decoded[0] : ' ';
            bool left = false, right = false;
            for (FriBidiStrIndex i = 0; i < n; ++i) {
                const FriBidiChar c = decoded[static_cast<std::size_t>(i)];
                const FriBidiCharType type = fribidi_get_bidi_type(c);
                if (!FRIBIDI_IS_STRONG(type) || FRIBIDI_IS_EXPLICIT(type))
                    continue;
                if (!left && !right)
                    unit = c;
                (FRIBIDI_IS_RTL(type) ? right : left) = true;
            }
            if (left && right)
                unit = 0xFFFC; // both directions: neutral, it goes with its neighbours
            units.push_back(unit);
            owner.emplace_back(static_cast<int>(w), static_cast<int>(k));
        }
    }
    const auto length = static_cast<FriBidiStrIndex>(units.size());
    std::vector<FriBidiCharType> types(units.size());
    std::vector<FriBidiBracketType> brackets(units.size());
    std::vector<FriBidiLevel> levels(units.size());
    std::vector<FriBidiStrIndex> map(units.size());
    fribidi_get_bidi_types(units.data(), length, types.data());
    fribidi_get_bracket_types(units.data(), length, types.data(), brackets.data());
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &base,
                                             levels.data()))
        return;
    std::iota(map.begin(), map.end(), FriBidiStrIndex{0});
    std::vector<FriBidiChar> shown = units;
    if (!fribidi_reorder_line(FRIBIDI_FLAGS_DEFAULT, types.data(), length, 0, base, levels.data(),
                              shown.data(), map.data()))
        return;
    std::vector<std::string> texts(words.size());
    std::vector<bool> started(words.size(), false);
    std::vector<std::size_t> order;
    for (const FriBidiStrIndex at : map) {
        const auto [w, k] = owner[static_cast<std::size_t>(at)];
        if (w < 0)
            continue;
        const auto word = static_cast<std::size_t>(w);
        if (!started[word]) {
            started[word] = true;
            order.push_back(word);
        }
        texts[word] += *glyphs[glyphOrder[static_cast<std::size_t>(k)]].Text;
    }
    std::vector<TFrameWord> result;
    result.reserve(words.size());
    for (const std::size_t w : order) {
        result.push_back(std::move(words[w]));
        result.back().Text = std::move(texts[w]);
    }
    words = std::move(result);
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

// A vector's length; text along an axis, as most is, needs no square root.
double length(double x, double y) {
    if (y == 0)
        return std::abs(x);
    if (x == 0)
        return std::abs(y);
    return std::hypot(x, y);
}

// The quarter turn nearest to a direction: 0 along +x, 1 along +y, 2 along -x, 3 along -y.
// Directions well off the diagonals are told by their larger part; those near them, where
// the halves round away from zero, by their angle.
int quarterOf(double dirX, double dirY) {
    const double x = std::abs(dirX), y = std::abs(dirY);
    if (x > 1.01 * y)
        return dirX > 0 ? 0 : 2;
    if (y > 1.01 * x)
        return dirY > 0 ? 1 : 3;
    return static_cast<int>(std::lround(std::atan2(dirY, dirX) / (kPi / 2))) & 3;
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
    const bool moved = Display.a != 1 || Display.b != 0 || Display.c != 0 || Display.d != 1 ||
                       Display.e != 0 || Display.f != 0;
    const TPDFPoint origin =
        moved ? TransformPoint(Display, glyph.Origin.x, glyph.Origin.y) : glyph.Origin;
    const TPDFPoint end = moved ? TransformPoint(Display, glyph.End.x, glyph.End.y) : glyph.End;
    const TPDFPoint up = moved ? TransformPoint(Display, glyph.Up.x, glyph.Up.y) : glyph.Up;
    TReadingGlyph g;
    g.Text = glyph.Text;
    g.X = origin.x;
    g.Y = origin.y;
    const double upX = up.x - origin.x;
    const double upY = up.y - origin.y;
    g.Size = length(upX, upY);
    g.Advance = length(end.x - origin.x, end.y - origin.y);
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
    frames[0].reserve(glyphs.size()); // most pages read in one direction
    for (TReadingGlyph& glyph : glyphs) {
        if (glyph.Text.empty() || !(glyph.Size > 0) || !std::isfinite(glyph.X) ||
            !std::isfinite(glyph.Y) || !std::isfinite(glyph.Advance))
            continue;
        if (glyph.Text.find("\xEF\xAC") != std::string::npos)
            glyph.Text = ExpandLigatures(glyph.Text);
        // Vertical writing runs down its columns as text turned a quarter clockwise does.
        const int quarter = quarterOf(glyph.DirX, glyph.DirY);
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
        std::vector<TFrameGlyph>& kept = frames[static_cast<std::size_t>(quarter)];
        dropDuplicates(kept, layout.DroppedGlyphs);
        std::vector<std::uint32_t> glyphOrder;
        std::vector<TFrameLine> lines = buildLines(kept, glyphOrder);
        TWordScratch scratch;
        for (TFrameLine& line : lines)
            buildWords(line, kept, glyphOrder, scratch);
        splitAtGutters(lines);
        std::vector<std::size_t> withWords;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            readInLogicalOrder(lines[i].Words, kept, glyphOrder);
            if (!lines[i].Words.empty())
                withWords.push_back(i);
        }
        std::vector<TFrameBlock> blocks = buildBlocks(lines, std::move(withWords));
        std::vector<std::size_t> all(blocks.size());
        std::iota(all.begin(), all.end(), std::size_t{0});
        std::vector<std::size_t> order;
        TRegions regions{lines, blocks};
        readRegion(regions, all, order, 0);
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
