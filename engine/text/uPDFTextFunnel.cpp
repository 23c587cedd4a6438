#include "text/uPDFTextFunnel.h"

#include <cmath>
#include <cstring>
#include <set>
#include <unordered_map>

#include "file/uPDFExtra.h"

namespace korvel {

namespace {

// Grid cells are indexed by 32-bit numbers per axis; points farther out (or not finite) are
// kept in a list of their own that every search looks at.
constexpr double kMaxCellIndex = 1073741824.0; // 2^30, far inside the 32-bit range
// A search looks at no more cells than this; beyond it the group's blocks are scanned in order.
constexpr double kMaxSearchCells = 4096.0;
constexpr std::uint64_t kFarCell = ~std::uint64_t{0};

double distanceOf(const TPDFPoint& a, const TPDFPoint& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

bool usableCellSize(double size) {
    return std::isfinite(size) && size > 1e-6 && size < 1e9;
}

std::uint64_t packCell(double gx, double gy) {
    const auto ux = static_cast<std::uint32_t>(static_cast<std::int64_t>(gx) + 0x80000000LL);
    const auto uy = static_cast<std::uint32_t>(static_cast<std::int64_t>(gy) + 0x80000000LL);
    return (std::uint64_t{ux} << 32) | uy;
}

bool inGrid(double g) {
    return g > -kMaxCellIndex && g < kMaxCellIndex;
} // false for NaN

// A font name or text as a record field: CR bytes become spaces so that a record never
// breaks, quotes and backslashes get a backslash, the whole between double quotes.
void appendQuoted(std::string& out, std::string_view value) {
    out += '"';
    for (const char ch : value) {
        if (ch == '\r') {
            out += ' ';
            continue;
        }
        if (ch == '"' || ch == '\\')
            out += '\\';
        out += ch;
    }
    out += '"';
}

} // namespace

// Blocks grouped by the fields that must be equal for a join (font name, matrix key, colour).
// Within a group only the distinct lower-right corners matter: every block ending at one point
// is as far from a run as the others, and the first of them in begin order is the one a scan
// would find. The distinct corners sit on a grid whose cells are as large as the size of the
// group's first usable run, so that a search reads only the few cells around the run.
struct TPDFTextFunnel::TIndex {
    static constexpr std::size_t kNone = ~std::size_t{0};

    struct TPointKey {
        std::uint64_t X = 0, Y = 0;
        friend bool operator==(const TPointKey&, const TPointKey&) = default;
    };
    struct TPointHash {
        std::size_t operator()(const TPointKey& k) const noexcept {
            std::uint64_t h = k.X * 0x9E3779B97F4A7C15ull;
            h ^= (k.Y + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2));
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    // One distinct corner and the blocks that end there: the first in begin order apart, the
    // others (rare: text drawn twice at one place) in order.
    struct TPoint {
        TPDFPoint At;
        std::size_t First = kNone;
        std::unique_ptr<std::set<std::size_t>> Rest;
        std::uint64_t Cell = kFarCell;
        std::size_t Slot = 0; // position in its cell's list or in Far
    };
    struct TGroup {
        std::string FontName, MatrixKey, Colour; // the texts the group's blocks view
        double Cell = 0; // 0 until a run of usable size arrives: until then all points are far
        std::unordered_map<TPointKey, TPoint, TPointHash> Points;
        std::unordered_map<std::uint64_t, std::vector<TPoint*>> Cells;
        std::vector<TPoint*> Far;
        std::vector<std::size_t> All; // blocks in begin order
    };

    std::unordered_map<std::string, std::size_t> GroupOf;
    std::vector<std::unique_ptr<TGroup>> Groups; // stable: blocks view their texts
    std::vector<std::size_t> GroupOfBlock;
    // The group and matrix key of the last run: runs of one string share them.
    std::size_t LastGroup = kNone;
    TPDFMatrix LastMatrix;
    std::string LastMatrixKey;

    static TPointKey KeyOf(const TPDFPoint& p) {
        // -0 and 0 are one point.
        const double x = p.x == 0 ? 0.0 : p.x;
        const double y = p.y == 0 ? 0.0 : p.y;
        TPointKey key;
        std::memcpy(&key.X, &x, sizeof x);
        std::memcpy(&key.Y, &y, sizeof y);
        return key;
    }

    static std::uint64_t CellOf(const TGroup& group, const TPDFPoint& p) {
        if (group.Cell <= 0)
            return kFarCell;
        const double gx = std::floor(p.x / group.Cell);
        const double gy = std::floor(p.y / group.Cell);
        if (!inGrid(gx) || !inGrid(gy))
            return kFarCell;
        return packCell(gx, gy);
    }

    static std::vector<TPoint*>& ListOf(TGroup& group, const TPoint& point) {
        return point.Cell == kFarCell ? group.Far : group.Cells[point.Cell];
    }

    static void Place(TGroup& group, TPoint& point) {
        point.Cell = CellOf(group, point.At);
        std::vector<TPoint*>& list = ListOf(group, point);
        point.Slot = list.size();
        list.push_back(&point);
    }

    // Corners that are not finite are never within any distance of a run: they are not kept.
    void Insert(std::size_t block, const TPDFPoint& lowerRight) {
        if (!std::isfinite(lowerRight.x) || !std::isfinite(lowerRight.y))
            return;
        TGroup& group = *Groups[GroupOfBlock[block]];
        auto [it, made] = group.Points.try_emplace(KeyOf(lowerRight));
        TPoint& point = it->second;
        if (made) {
            point.At = lowerRight;
            Place(group, point);
        }
        if (point.First == kNone) {
            point.First = block;
            return;
        }
        if (!point.Rest)
            point.Rest = std::make_unique<std::set<std::size_t>>();
        if (block < point.First)
            std::swap(block, point.First);
        point.Rest->insert(block);
    }

    void Remove(std::size_t block, const TPDFPoint& lowerRight) {
        if (!std::isfinite(lowerRight.x) || !std::isfinite(lowerRight.y))
            return;
        TGroup& group = *Groups[GroupOfBlock[block]];
        const auto it = group.Points.find(KeyOf(lowerRight));
        if (it == group.Points.end())
            return;
        TPoint& point = it->second;
        if (point.First != block) {
            if (point.Rest)
                point.Rest->erase(block);
            return;
        }
        if (point.Rest && !point.Rest->empty()) {
            point.First = *point.Rest->begin();
            point.Rest->erase(point.Rest->begin());
            return;
        }
        std::vector<TPoint*>& list = ListOf(group, point);
        list[point.Slot] = list.back();
        list[point.Slot]->Slot = point.Slot;
        list.pop_back();
        if (list.empty() && point.Cell != kFarCell)
            group.Cells.erase(point.Cell);
        group.Points.erase(it);
    }

    // A block's lower right corner moved from `from` to `to`: the same as Remove and Insert.
    // A corner of its own that stays in its cell, where no other corner is, is moved in place.
    void Move(std::size_t block, const TPDFPoint& from, const TPDFPoint& to) {
        if (std::isfinite(from.x) && std::isfinite(from.y) && std::isfinite(to.x) &&
            std::isfinite(to.y)) {
            TGroup& group = *Groups[GroupOfBlock[block]];
            const auto it = group.Points.find(KeyOf(from));
            const TPointKey key = KeyOf(to);
            if (it != group.Points.end() && it->second.First == block &&
                (!it->second.Rest || it->second.Rest->empty()) &&
                CellOf(group, to) == it->second.Cell && !group.Points.contains(key)) {
                auto node = group.Points.extract(it);
                node.key() = key;
                node.mapped().At = to;
                group.Points.insert(std::move(node)); // the cell's list points at the node
                return;
            }
        }
        Remove(block, from);
        Insert(block, to);
    }

    // The group of a run, made when missing; a group without a grid gets one from the first
    // run of usable size, and its far points move into the grid then, once.
    std::size_t GroupFor(const TextRun& run, const std::string& matrixKey) {
        std::size_t index = LastGroup;
        if (index == kNone || Groups[index]->FontName != run.FontName ||
            Groups[index]->MatrixKey != matrixKey || Groups[index]->Colour != run.Colour) {
            // Lengths in front keep the three byte strings apart whatever bytes they hold.
            std::string key = std::to_string(run.FontName.size()) + ':' + run.FontName +
                              std::to_string(matrixKey.size()) + ':' + matrixKey + run.Colour;
            const auto found = GroupOf.find(key);
            if (found == GroupOf.end()) {
                index = Groups.size();
                auto group = std::make_unique<TGroup>();
                group->FontName = run.FontName;
                group->MatrixKey = matrixKey;
                group->Colour = run.Colour;
                Groups.push_back(std::move(group));
                GroupOf.emplace(std::move(key), index);
            } else {
                index = found->second;
            }
            LastGroup = index;
        }
        TGroup& group = *Groups[index];
        if (group.Cell <= 0 && usableCellSize(run.Size)) {
            // Cells twice the size: a search for a run of that size reads two cells a side.
            group.Cell = 2 * run.Size;
            std::vector<TPoint*> far;
            far.swap(group.Far);
            for (TPoint* point : far)
                Place(group, *point);
        }
        return index;
    }

    const std::string& MatrixKeyOf(const TPDFMatrix& m) {
        if (LastMatrixKey.empty() || m.a != LastMatrix.a || m.b != LastMatrix.b ||
            m.c != LastMatrix.c || m.d != LastMatrix.d) {
            LastMatrixKey = TextMatrixKey(m);
            LastMatrix = m;
        }
        return LastMatrixKey;
    }
};

std::string TextMatrixKey(const TPDFMatrix& matrix) {
    std::string key = NumberToText(0, 4, matrix.a);
    key += NumberToText(0, 4, matrix.b);
    key += NumberToText(0, 4, matrix.c);
    key += NumberToText(0, 4, matrix.d);
    return key;
}

TPDFTextFunnel::TPDFTextFunnel() : FIndex(std::make_unique<TIndex>()) {}

TPDFTextFunnel::~TPDFTextFunnel() = default;

void TPDFTextFunnel::Clear() {
    FBlocks.clear();
    FIndex = std::make_unique<TIndex>();
    FTextBytes = 0;
    FDroppedRuns = 0;
    FExamined = 0;
}

void TPDFTextFunnel::AddRun(const TextRun& run) {
    const bool joinAllowed = FJoinAllowed;
    FJoinAllowed = true;
    if (FTextBytes + run.Text.size() + 1 > kMaxText) {
        ++FDroppedRuns;
        return;
    }
    TIndex& index = *FIndex;
    const std::string& matrixKey = index.MatrixKeyOf(run.Matrix);
    const TPDFMatrix& m = run.Matrix;
    const double end = run.Start + run.Width;
    const double top = run.Bottom + run.Height;
    const TPDFPoint lowerLeft = TransformPoint(m, run.Start, run.Bottom);
    const TPDFPoint lowerRight = TransformPoint(m, end, run.Bottom);
    const TPDFPoint upperRight = TransformPoint(m, end, top);
    const TPDFPoint upperLeft = TransformPoint(m, run.Start, top);

    const std::size_t group = index.GroupFor(run, matrixKey);

    const std::size_t none = FBlocks.size();
    std::size_t direct = none; // first block closer than Size / 5
    std::size_t spaced = none; // first block closer than Size
    if (joinAllowed && run.Size > 0 && FExamined < kSearchBudget) {
        const double nearLimit = run.Size / 5;
        const auto weigh = [&](std::size_t block, const TPDFPoint& at) {
            ++FExamined;
            if (block >= direct)
                return;
            const double distance = distanceOf(at, lowerLeft);
            if (distance < nearLimit)
                direct = block;
            if (distance < run.Size && block < spaced)
                spaced = block;
        };
        const auto consider = [&](const TIndex::TPoint* point) { weigh(point->First, point->At); };
        const TIndex::TGroup& g = *index.Groups[group];
        const double r = run.Size;
        bool gridded = g.Cell > 0;
        double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        if (gridded) {
            // A slack far above the rounding of the subtractions and divisions keeps every
            // corner the distance test could accept inside the cells read.
            const double sx = (std::fabs(lowerLeft.x) + r) * 1e-9 + 1e-9;
            const double sy = (std::fabs(lowerLeft.y) + r) * 1e-9 + 1e-9;
            x0 = std::floor((lowerLeft.x - r - sx) / g.Cell);
            x1 = std::floor((lowerLeft.x + r + sx) / g.Cell);
            y0 = std::floor((lowerLeft.y - r - sy) / g.Cell);
            y1 = std::floor((lowerLeft.y + r + sy) / g.Cell);
            const double cells = (x1 - x0 + 1) * (y1 - y0 + 1);
            gridded = inGrid(x0) && inGrid(x1) && inGrid(y0) && inGrid(y1) &&
                      cells <= kMaxSearchCells && cells <= static_cast<double>(g.All.size());
        }
        if (gridded) {
            for (double gx = x0; gx <= x1 && FExamined < kSearchBudget; ++gx) {
                for (double gy = y0; gy <= y1; ++gy) {
                    const auto cell = g.Cells.find(packCell(gx, gy));
                    if (cell == g.Cells.end())
                        continue;
                    for (const TIndex::TPoint* point : cell->second)
                        consider(point);
                }
            }
            for (const TIndex::TPoint* point : g.Far)
                consider(point);
        } else {
            for (const std::size_t block : g.All) {
                weigh(block, FBlocks[block].LowerRight);
                if (direct != none || FExamined >= kSearchBudget)
                    break; // All is in begin order: nothing later can win
            }
        }
    }

    const std::size_t target = direct != none ? direct : spaced;
    if (target != none) {
        TPDFTextFunnelBlock& block = FBlocks[target];
        if (direct == none) {
            block.Text += ' ';
            ++FTextBytes;
        }
        block.Text += run.Text;
        FTextBytes += run.Text.size();
        index.Move(target, block.LowerRight, lowerRight);
        block.LowerRight = lowerRight;
        block.UpperRight = upperRight;
        return;
    }
    if (FBlocks.size() >= kMaxBlocks) {
        ++FDroppedRuns;
        return;
    }

    const TIndex::TGroup& g = *index.Groups[group];
    TPDFTextFunnelBlock block;
    block.LowerLeft = lowerLeft;
    block.LowerRight = lowerRight;
    block.UpperRight = upperRight;
    block.UpperLeft = upperLeft;
    block.Text = run.Text;
    block.FontName = g.FontName;
    block.MatrixKey = g.MatrixKey;
    block.Colour = g.Colour;
    block.Size = run.Size;
    FTextBytes += run.Text.size();
    FBlocks.push_back(std::move(block));
    const std::size_t added = FBlocks.size() - 1;
    index.GroupOfBlock.push_back(group);
    index.Groups[group]->All.push_back(added);
    index.Insert(added, lowerRight);
}

TPDFPoint TPDFTextFunnel::recordPoint(const TPDFPoint& p) const {
    const double x = p.x * UnitScale;
    const double y = p.y * UnitScale;
    const bool flipX = Origin == 2 || Origin == 3;
    const bool flipY = Origin == 1 || Origin == 2;
    return {flipX ? PageWidth - x : x, flipY ? PageHeight - y : y};
}

std::vector<TPDFTextRecord> TPDFTextFunnel::TakeRecords() {
    std::vector<TPDFTextRecord> records;
    records.reserve(FBlocks.size());
    for (TPDFTextFunnelBlock& block : FBlocks) {
        const TPDFPoint at = recordPoint(block.LowerLeft);
        const bool broken = block.Text.find('\n') != std::string::npos ||
                            block.FontName.find('\n') != std::string_view::npos;
        records.push_back(TPDFTextRecord{at.x, at.y, std::move(block.Text), broken});
    }
    Clear();
    return records;
}

void TPDFTextFunnel::WriteRecords(std::string& text) const {
    text.clear();
    const auto appendPoint = [&](const TPDFPoint& p) {
        const TPDFPoint at = recordPoint(p);
        text += ',';
        text += NumberToText(0, 4, at.x);
        text += ',';
        text += NumberToText(0, 4, at.y);
    };
    for (const TPDFTextFunnelBlock& block : FBlocks) {
        appendQuoted(text, block.FontName);
        text += ',';
        text += block.Colour;
        text += ',';
        text += NumberToText(0, 2, block.Size);
        appendPoint(block.LowerLeft);
        appendPoint(block.LowerRight);
        appendPoint(block.UpperRight);
        appendPoint(block.UpperLeft);
        text += ',';
        appendQuoted(text, block.Text);
        text += "\r\n";
    }
}

} // namespace korvel
