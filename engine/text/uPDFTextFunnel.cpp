#include "text/uPDFTextFunnel.h"

#include <cmath>
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
void appendQuoted(std::string& out, const std::string& value) {
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

// Blocks grouped by the fields that must be equal for a join (font name, matrix key, colour);
// within a group a grid on the blocks' lower right corners, with cells as large as the size
// of the group's first usable run, so that a search reads only the few cells around the run.
struct TPDFTextFunnel::TIndex {
    struct TGroup {
        double Cell = 0; // 0 until a run of usable size arrives: until then all blocks are far
        std::unordered_map<std::uint64_t, std::vector<std::size_t>> Cells;
        std::vector<std::size_t> Far;
        std::vector<std::size_t> All; // in begin order
    };
    struct TPlace {
        std::size_t Group = 0;
        std::uint64_t Cell = kFarCell;
    };

    std::unordered_map<std::string, std::size_t> GroupOf;
    std::vector<TGroup> Groups;
    std::vector<TPlace> Places; // per block

    static std::string KeyOf(const std::string& font, const std::string& matrixKey,
                             const std::string& colour) {
        // Lengths in front keep the three byte strings apart whatever bytes they hold.
        std::string key = std::to_string(font.size()) + ':' + font +
                          std::to_string(matrixKey.size()) + ':' + matrixKey;
        key += colour;
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

    void Insert(std::size_t block, const TPDFPoint& lowerRight) {
        TPlace& place = Places[block];
        TGroup& group = Groups[place.Group];
        place.Cell = CellOf(group, lowerRight);
        if (place.Cell == kFarCell)
            group.Far.push_back(block);
        else
            group.Cells[place.Cell].push_back(block);
    }

    void Remove(std::size_t block) {
        const TPlace& place = Places[block];
        TGroup& group = Groups[place.Group];
        std::vector<std::size_t>* list = &group.Far;
        if (place.Cell != kFarCell) {
            const auto cell = group.Cells.find(place.Cell);
            if (cell == group.Cells.end())
                return;
            list = &cell->second;
        }
        for (std::size_t i = 0; i < list->size(); ++i) {
            if ((*list)[i] == block) {
                (*list)[i] = list->back();
                list->pop_back();
                break;
            }
        }
    }

    // The group of the key, made when missing; a group without a grid gets one from the first
    // run of usable size, and its far blocks move into the grid then, once.
    std::size_t GroupFor(const std::string& key, double size,
                         const std::vector<TPDFTextFunnelBlock>& blocks) {
        auto found = GroupOf.find(key);
        std::size_t index;
        if (found == GroupOf.end()) {
            index = Groups.size();
            Groups.emplace_back();
            GroupOf.emplace(key, index);
        } else {
            index = found->second;
        }
        TGroup& group = Groups[index];
        if (group.Cell <= 0 && usableCellSize(size)) {
            group.Cell = size;
            std::vector<std::size_t> far;
            far.swap(group.Far);
            for (const std::size_t block : far)
                Insert(block, blocks[block].LowerRight);
        }
        return index;
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
}

void TPDFTextFunnel::AddRun(const TextRun& run) {
    const std::string matrixKey = TextMatrixKey(run.Matrix);
    const TPDFMatrix& m = run.Matrix;
    const double end = run.Start + run.Width;
    const double top = run.Bottom + run.Height;
    const TPDFPoint lowerLeft = TransformPoint(m, run.Start, run.Bottom);
    const TPDFPoint lowerRight = TransformPoint(m, end, run.Bottom);
    const TPDFPoint upperRight = TransformPoint(m, end, top);
    const TPDFPoint upperLeft = TransformPoint(m, run.Start, top);

    TIndex& index = *FIndex;
    const std::size_t group =
        index.GroupFor(TIndex::KeyOf(run.FontName, matrixKey, run.Colour), run.Size, FBlocks);

    const std::size_t none = FBlocks.size();
    std::size_t direct = none; // first block closer than Size / 5
    std::size_t spaced = none; // first block closer than Size
    if (FJoinAllowed && run.Size > 0) {
        const double nearLimit = run.Size / 5;
        const auto consider = [&](std::size_t block) {
            if (block >= direct)
                return;
            const double distance = distanceOf(FBlocks[block].LowerRight, lowerLeft);
            if (distance < nearLimit)
                direct = block;
            if (distance < run.Size && block < spaced)
                spaced = block;
        };
        const TIndex::TGroup& g = index.Groups[group];
        const double r = run.Size;
        bool gridded = g.Cell > 0;
        double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        if (gridded) {
            // One cell more on each side than the radius needs absorbs rounding in the
            // divisions; the distance test below decides.
            x0 = std::floor((lowerLeft.x - r) / g.Cell) - 1;
            x1 = std::floor((lowerLeft.x + r) / g.Cell) + 1;
            y0 = std::floor((lowerLeft.y - r) / g.Cell) - 1;
            y1 = std::floor((lowerLeft.y + r) / g.Cell) + 1;
            const double cells = (x1 - x0 + 1) * (y1 - y0 + 1);
            gridded = inGrid(x0) && inGrid(x1) && inGrid(y0) && inGrid(y1) &&
                      cells <= kMaxSearchCells && cells <= static_cast<double>(g.All.size());
        }
        if (gridded) {
            for (double gx = x0; gx <= x1; ++gx) {
                for (double gy = y0; gy <= y1; ++gy) {
                    const auto cell = g.Cells.find(packCell(gx, gy));
                    if (cell == g.Cells.end())
                        continue;
                    for (const std::size_t block : cell->second)
                        consider(block);
                }
            }
            for (const std::size_t block : g.Far)
                consider(block);
        } else {
            for (const std::size_t block : g.All) {
                consider(block);
                if (direct != none)
                    break; // All is in begin order: nothing later can win
            }
        }
    }
    FJoinAllowed = true;

    const std::size_t target = direct != none ? direct : spaced;
    if (target != none) {
        TPDFTextFunnelBlock& block = FBlocks[target];
        if (direct == none)
            block.Text += ' ';
        block.Text += run.Text;
        block.LowerRight = lowerRight;
        block.UpperRight = upperRight;
        index.Remove(target);
        index.Insert(target, lowerRight);
        return;
    }

    TPDFTextFunnelBlock block;
    block.LowerLeft = lowerLeft;
    block.LowerRight = lowerRight;
    block.UpperRight = upperRight;
    block.UpperLeft = upperLeft;
    block.Text = run.Text;
    block.FontName = run.FontName;
    block.MatrixKey = matrixKey;
    block.Colour = run.Colour;
    block.Size = run.Size;
    FBlocks.push_back(std::move(block));
    const std::size_t added = FBlocks.size() - 1;
    index.Places.push_back({group, kFarCell});
    index.Groups[group].All.push_back(added);
    index.Insert(added, lowerRight);
}

void TPDFTextFunnel::WriteRecords(std::string& text) const {
    text.clear();
    const bool flipX = Origin == 2 || Origin == 3;
    const bool flipY = Origin == 1 || Origin == 2;
    const auto appendPoint = [&](const TPDFPoint& p) {
        const double x = p.x * UnitScale;
        const double y = p.y * UnitScale;
        text += ',';
        text += NumberToText(0, 4, flipX ? PageWidth - x : x);
        text += ',';
        text += NumberToText(0, 4, flipY ? PageHeight - y : y);
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
