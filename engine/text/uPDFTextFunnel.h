#pragma once
// The text funnel: collects the runs that text showing hands over, joins a run to the block it
// continues (same font, orientation and colour, starting where the block ends) and writes the
// blocks as positioned-text record lines `"font",#RRGGBB,size,x,y x4,"text"` ended by CR LF.
//
// Ownership: the funnel owns its blocks and their index; it keeps nothing of the caller's.
// Text is bytes: only ASCII bytes mean anything here (the quote, the backslash, CR). Nothing
// fails on input: any text, matrix or size is accepted.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/uPDFMatrix.h"

namespace korvel {

// What text showing hands to the funnel: one string or one word. Lengths are in glyph units.
struct TextRun {
    TPDFMatrix Matrix; // glyph space to page space at the moment of showing
    std::string Text;
    double Height = 0; // ascent - descent
    double Width = 0;  // the run's advance
    double Bottom = 0; // descent plus the rise
    double Start = 0;  // where the run begins along the baseline
    double Size = 0;   // the font size on the page
    std::string FontName;
    std::string Colour; // "#RRGGBB", upper-case digits
};

// One block of joined runs. Corners are in default user space (points, y upward).
struct TPDFTextFunnelBlock {
    TPDFPoint LowerLeft;  // start and bottom of the first run
    TPDFPoint LowerRight; // end and bottom of the last run
    TPDFPoint UpperRight; // end and top of the last run
    TPDFPoint UpperLeft;  // start and top of the first run
    std::string Text;
    // From the first run. The texts are kept once per funnel (blocks of one font, orientation
    // and colour share them) and stay valid until Clear or the funnel's end.
    std::string_view FontName;
    std::string_view MatrixKey; // a, b, c, d of the first run's matrix, 4 decimals, unseparated
    std::string_view Colour;
    double Size = 0;
};

// A block as its record line shows it, for callers that read the lines' corner and text
// only: the lower left corner in the record's units and origin, unrounded, and the text.
// `Broken` when the font name or text holds a line feed, which breaks the record line.
struct TPDFTextRecord {
    double X = 0;
    double Y = 0;
    std::string Text;
    bool Broken = false;
};

// The matrix key of a run: runs in the same orientation and scale have equal keys.
std::string TextMatrixKey(const TPDFMatrix& matrix);

class TPDFTextFunnel {
public:
    // A page of more blocks than this is hostile (real pages have a few thousand): a run that
    // would begin a further block is dropped; runs still join the blocks there are.
    static constexpr std::size_t kMaxBlocks = 500000;
    // Bytes of text all blocks together hold at most; text past it is dropped.
    static constexpr std::size_t kMaxText = std::size_t{256} << 20;
    // Block ends a page's join searches look at, all runs together. Real pages look at a few
    // per run; content made to pile thousands of block ends around every run start stops
    // joining once this is spent, instead of costing time with the square of its runs.
    static constexpr std::uint64_t kSearchBudget = std::uint64_t{64} << 20;

    TPDFTextFunnel();
    ~TPDFTextFunnel();
    TPDFTextFunnel(const TPDFTextFunnel&) = delete;
    TPDFTextFunnel& operator=(const TPDFTextFunnel&) = delete;

    // Settings, read only by WriteRecords (WordMode by text showing): the corner coordinates
    // count from (0 lower left, 1 upper left, 2 upper right, 3 lower right), points to the
    // caller's units, and the page size already in those units.
    std::int32_t Origin = 0;
    double UnitScale = 1;
    double PageWidth = 0;
    double PageHeight = 0;
    bool WordMode = false;

    // Empties the blocks; the settings and the join flag stay.
    void Clear();

    // Joins the run to the first block in begin order that has its font name, matrix key and
    // colour and whose lower right lies closer than Size / 5 to the run's lower left (texts
    // joined directly), else to the first such block closer than Size (joined with a space);
    // otherwise the run begins a block. With joining forbidden it always begins a block.
    // Afterwards joining is allowed again. Distances are sqrt(dx * dx + dy * dy).
    void AddRun(const TextRun& run);

    void SetJoinAllowed(bool allowed) { FJoinAllowed = allowed; }
    bool JoinAllowed() const { return FJoinAllowed; }

    // Replaces text with one record line per block, in begin order; no blocks give "".
    void WriteRecords(std::string& text) const;
    // The blocks as records, in begin order, their texts moved out; then Clear.
    std::vector<TPDFTextRecord> TakeRecords();

    const std::vector<TPDFTextFunnelBlock>& Blocks() const { return FBlocks; }
    // Runs dropped at kMaxBlocks and kMaxText, block ends examined (for tests and measures).
    std::uint64_t DroppedRuns() const { return FDroppedRuns; }
    std::uint64_t Examined() const { return FExamined; }

private:
    // A corner as the records write it: in the caller's units, from the caller's origin.
    TPDFPoint recordPoint(const TPDFPoint& p) const;
    struct TIndex;

    std::vector<TPDFTextFunnelBlock> FBlocks;
    bool FJoinAllowed = true;
    std::size_t FTextBytes = 0;
    std::uint64_t FDroppedRuns = 0;
    std::uint64_t FExamined = 0;
    // Finds the same block as a scan of all blocks in order, without looking at all of them.
    std::unique_ptr<TIndex> FIndex;
};

} // namespace korvel
