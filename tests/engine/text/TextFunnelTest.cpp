#include <gtest/gtest.h>

#include <set>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "text/uPDFTextFunnel.h"

using namespace korvel;

namespace {

// A run in glyph units of one point (matrix scale 1) whose lower left is (x, y - 2) and lower
// right (x + width, y - 2); it is 10 high. Size is given, not derived.
TextRun runAt(double x, double y, double width, const std::string& text, double size = 12,
              const std::string& font = "Arial", const std::string& colour = "#000000") {
    TextRun run;
    run.Matrix = TPDFMatrix{1, 0, 0, 1, x, y};
    run.Text = text;
    run.Width = width;
    run.Height = 10;
    run.Bottom = -2;
    run.Size = size;
    run.FontName = font;
    run.Colour = colour;
    return run;
}

using Step = std::function<void(TPDFTextFunnel&)>;

Step add(const TextRun& run) {
    return [run](TPDFTextFunnel& funnel) { funnel.AddRun(run); };
}
Step add(double x, double y, double width, const std::string& text, double size = 12) {
    return add(runAt(x, y, width, text, size));
}
const Step forbid = [](TPDFTextFunnel& funnel) { funnel.SetJoinAllowed(false); };
const Step allow = [](TPDFTextFunnel& funnel) { funnel.SetJoinAllowed(true); };
const Step clear = [](TPDFTextFunnel& funnel) { funnel.Clear(); };

TextRun withMatrix(TextRun run, double a, double b, double c, double d) {
    run.Matrix.a = a;
    run.Matrix.b = b;
    run.Matrix.c = c;
    run.Matrix.d = d;
    return run;
}

struct JoinCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> texts;
};

} // namespace

TEST(TextFunnel, RunsJoinTheFirstBlockTheyContinue) {
    // Gaps are measured from the end of "ab" at x = 0; the size is 12.
    const std::vector<JoinCase> cases = {
        {"touching runs join directly", {add(-30, 700, 30, "ab"), add(0, 700, 20, "cd")}, {"abcd"}},
        {"a gap below a fifth of the size joins directly",
         {add(-30, 700, 30, "ab"), add(2.3, 700, 20, "cd")},
         {"abcd"}},
        {"a gap of exactly a fifth of the size joins with a space",
         {add(-30, 700, 30, "ab"), add(2.4, 700, 20, "cd")},
         {"ab cd"}},
        {"a gap below the size joins with a space",
         {add(-30, 700, 30, "ab"), add(11.9, 700, 20, "cd")},
         {"ab cd"}},
        {"a gap of the size begins a block",
         {add(-30, 700, 30, "ab"), add(12, 700, 20, "cd")},
         {"ab", "cd"}},
        {"a small overlap joins directly",
         {add(-30, 700, 30, "ab"), add(-2.3, 700, 20, "cd")},
         {"abcd"}},
        {"a larger overlap joins with a space",
         {add(-30, 700, 30, "ab"), add(-6, 700, 20, "cd")},
         {"ab cd"}},
        {"an overlap of the size begins a block",
         {add(-30, 700, 30, "ab"), add(-12, 700, 20, "cd")},
         {"ab", "cd"}},
        {"three adjacent strings make one block",
         {add(72, 700, 10, "He"), add(82, 700, 10, "ll"), add(92, 700, 8, "o")},
         {"Hello"}},
        {"another colour never joins",
         {add(0, 700, 20, "ab"), add(runAt(20, 700, 20, "cd", 12, "Arial", "#FF0000"))},
         {"ab", "cd"}},
        {"another font never joins",
         {add(0, 700, 20, "ab"), add(runAt(20, 700, 20, "cd", 12, "Times"))},
         {"ab", "cd"}},
        {"a rotated run never joins",
         {add(0, 700, 20, "ab"), add(withMatrix(runAt(22, 698, 20, "cd"), 0, 1, -1, 0))},
         {"ab", "cd"}},
        {"another scale never joins",
         {add(0, 700, 20, "ab"), add(withMatrix(runAt(20, 700, 10, "cd"), 2, 0, 0, 1))},
         {"ab", "cd"}},
        {"a size of zero or less never joins",
         {add(0, 700, 20, "a", 0), add(20, 700, 20, "b", 0), add(40, 700, 20, "c", -12)},
         {"a", "b", "c"}},
        {"a forbidden join begins a block and joining is allowed again after",
         {add(0, 700, 20, "one"), forbid, add(20, 700, 20, "two"), add(40, 700, 20, "three")},
         {"one", "twothree"}},
        {"words of one string join only at the last word",
         {add(0, 700, 20, "one"), forbid, add(25, 700, 20, "two"), forbid, allow,
          add(50, 700, 25, "three")},
         {"one", "two three"}},
        {"later text joins the first line it continues",
         {add(72, 700, 40, "first"), add(72, 680, 40, "second"), add(115, 700, 30, "line")},
         {"first line", "second"}},
        {"a later block within a fifth beats an earlier one within the size",
         {add(0, 700, 100, "far"), add(0, 690, 104, "near"), add(104.5, 690, 10, "run")},
         {"far", "nearrun"}},
        {"of two blocks within the size the earlier wins though farther",
         {add(0, 700, 100, "far"), add(0, 690, 104, "near"), add(108, 692, 10, "run")},
         {"far run", "near"}},
        {"a bold word drawn twice stays twice",
         {add(0, 700, 40, "bold"), add(0.3, 700, 40, "bold")},
         {"bold", "bold"}},
        {"an empty run begins an empty block", {add(0, 700, 0, "", 0)}, {""}},
        {"clear empties the blocks", {add(0, 700, 20, "a"), clear, add(20, 700, 20, "b")}, {"b"}},
    };
    for (const JoinCase& c : cases) {
        TPDFTextFunnel funnel;
        for (const Step& step : c.steps)
            step(funnel);
        std::vector<std::string> texts;
        for (const TPDFTextFunnelBlock& block : funnel.Blocks())
            texts.push_back(block.Text);
        EXPECT_EQ(texts, c.texts) << c.name;
    }
}

TEST(TextFunnel, AJoinedBlockEndsAtItsLastRunAndStartsAtItsFirst) {
    TPDFTextFunnel funnel;
    for (const Step& step : {add(72, 700, 10, "He"), add(82, 700, 10, "ll"), add(92, 700, 8, "o")})
        step(funnel);
    const TPDFTextFunnelBlock& block = funnel.Blocks().at(0);
    EXPECT_DOUBLE_EQ(block.LowerLeft.x, 72);
    EXPECT_DOUBLE_EQ(block.LowerLeft.y, 698);
    EXPECT_DOUBLE_EQ(block.UpperLeft.y, 708);
    EXPECT_DOUBLE_EQ(block.LowerRight.x, 100);
    EXPECT_DOUBLE_EQ(block.UpperRight.x, 100);
    EXPECT_DOUBLE_EQ(block.UpperRight.y, 708);
    EXPECT_EQ(block.MatrixKey, "1.00000.00000.00001.0000");
}

// ---- Records ----

struct RecordCase {
    const char* name;
    std::int32_t origin;
    double unitScale;
    TextRun run;
    std::string record;
};

TEST(TextFunnel, RecordsAreWrittenInTheCallersFrame) {
    // The standard run's corners are (72, 700), (100, 700), (100, 710), (72, 710) on a page of
    // 612 x 792 points.
    const TextRun hi = runAt(72, 702, 28, "Hi");
    TextRun hello = runAt(72, 698.2, 38.5, "Hello");
    hello.Bottom = 0;
    hello.Height = 9.7;
    TextRun tiny = runAt(-1.23456, 0, 1.23456, "t", 10.999);
    tiny.Bottom = 0;
    tiny.Height = 0.99999;
    const std::vector<RecordCase> cases = {
        {"a block reads font, colour, size, corners and text", 0, 1, hello,
         "\"Arial\",#000000,12.00,72.0000,698.2000,110.5000,698.2000,110.5000,707.9000,72.0000,"
         "707.9000,\"Hello\""},
        {"upper left turns y over", 1, 1, hi,
         "\"Arial\",#000000,12.00,72.0000,92.0000,100.0000,92.0000,100.0000,82.0000,72.0000,"
         "82.0000,\"Hi\""},
        {"upper right turns both over", 2, 1, hi,
         "\"Arial\",#000000,12.00,540.0000,92.0000,512.0000,92.0000,512.0000,82.0000,540.0000,"
         "82.0000,\"Hi\""},
        {"lower right turns x over", 3, 1, hi,
         "\"Arial\",#000000,12.00,540.0000,700.0000,512.0000,700.0000,512.0000,710.0000,540.0000,"
         "710.0000,\"Hi\""},
        {"millimetres are truncated, not rounded", 0, 25.4 / 72, hi,
         "\"Arial\",#000000,12.00,25.4000,246.9444,35.2777,246.9444,35.2777,250.4722,25.4000,"
         "250.4722,\"Hi\""},
        {"upper left in millimetres", 1, 25.4 / 72, hi,
         "\"Arial\",#000000,12.00,25.4000,32.4555,35.2777,32.4555,35.2777,28.9277,25.4000,"
         "28.9277,\"Hi\""},
        {"numbers are truncated towards zero", 0, 1, tiny,
         "\"Arial\",#000000,10.99,-1.2345,0.0000,0.0000,0.0000,0.0000,0.9999,-1.2345,0.9999,"
         "\"t\""},
        {"a quote and a backslash get a backslash", 0, 1, runAt(72, 702, 28, "say \"hi\" \\"),
         "\"Arial\",#000000,12.00,72.0000,700.0000,100.0000,700.0000,100.0000,710.0000,72.0000,"
         "710.0000,\"say \\\"hi\\\" \\\\\""},
        {"a CR becomes a space, a line feed and other bytes stay", 0, 1,
         runAt(72, 702, 28, std::string("a\rb\nc\0\xE9", 7)),
         "\"Arial\",#000000,12.00,72.0000,700.0000,100.0000,700.0000,100.0000,710.0000,72.0000,"
         "710.0000,\"" +
             std::string("a b\nc\0\xE9", 7) + "\""},
        {"a font name is escaped and cannot break the record", 0, 1,
         runAt(72, 702, 28, "t", 12, "My\"F\\\r\n"),
         "\"My\\\"F\\\\ \n\",#000000,12.00,72.0000,700.0000,100.0000,700.0000,100.0000,"
         "710.0000,72.0000,710.0000,\"t\""},
    };
    for (const RecordCase& c : cases) {
        TPDFTextFunnel funnel;
        funnel.Origin = c.origin;
        funnel.UnitScale = c.unitScale;
        funnel.PageWidth = 612 * c.unitScale;
        funnel.PageHeight = 792 * c.unitScale;
        funnel.AddRun(c.run);
        std::string text = "left over";
        funnel.WriteRecords(text);
        EXPECT_EQ(text, c.record + "\r\n") << c.name;
    }
}

TEST(TextFunnel, NoBlocksWriteAnEmptyText) {
    TPDFTextFunnel funnel;
    std::string text = "left over";
    funnel.WriteRecords(text);
    EXPECT_EQ(text, "");
}

// ---- The indexed search against a plain scan ----

namespace {

// The join rule as a scan of every block in order, twice at most.
struct PlainFunnel {
    std::vector<TPDFTextFunnelBlock> blocks;
    std::set<std::string> texts; // what the blocks' font, key and colour view
    bool joinAllowed = true;

    void addRun(const TextRun& run) {
        const std::string key = TextMatrixKey(run.Matrix);
        const TPDFMatrix& m = run.Matrix;
        const TPDFPoint ll = TransformPoint(m, run.Start, run.Bottom);
        const TPDFPoint lr = TransformPoint(m, run.Start + run.Width, run.Bottom);
        const TPDFPoint ur = TransformPoint(m, run.Start + run.Width, run.Bottom + run.Height);
        const TPDFPoint ul = TransformPoint(m, run.Start, run.Bottom + run.Height);
        const auto distance = [&](const TPDFTextFunnelBlock& b) {
            const double dx = b.LowerRight.x - ll.x;
            const double dy = b.LowerRight.y - ll.y;
            return std::sqrt(dx * dx + dy * dy);
        };
        const auto candidate = [&](const TPDFTextFunnelBlock& b) {
            return b.FontName == run.FontName && b.MatrixKey == key && b.Colour == run.Colour;
        };
        TPDFTextFunnelBlock* target = nullptr;
        bool spaced = false;
        if (joinAllowed) {
            for (TPDFTextFunnelBlock& b : blocks)
                if (!target && candidate(b) && distance(b) < run.Size / 5)
                    target = &b;
            for (TPDFTextFunnelBlock& b : blocks)
                if (!target && candidate(b) && distance(b) < run.Size) {
                    target = &b;
                    spaced = true;
                }
        }
        joinAllowed = true;
        if (target) {
            target->Text += (spaced ? " " : "") + run.Text;
            target->LowerRight = lr;
            target->UpperRight = ur;
            return;
        }
        const auto keep = [this](const std::string& text) -> std::string_view {
            return *texts.insert(text).first;
        };
        blocks.push_back(
            {ll, lr, ur, ul, run.Text, keep(run.FontName), keep(key), keep(run.Colour), run.Size});
    }
};

bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool samePoint(const TPDFPoint& a, const TPDFPoint& b) {
    return sameDouble(a.x, b.x) && sameDouble(a.y, b.y);
}

::testing::AssertionResult sameBlocks(const std::vector<TPDFTextFunnelBlock>& got,
                                      const std::vector<TPDFTextFunnelBlock>& want) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " blocks instead of " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        const TPDFTextFunnelBlock& g = got[i];
        const TPDFTextFunnelBlock& w = want[i];
        if (!samePoint(g.LowerLeft, w.LowerLeft) || !samePoint(g.LowerRight, w.LowerRight) ||
            !samePoint(g.UpperRight, w.UpperRight) || !samePoint(g.UpperLeft, w.UpperLeft) ||
            g.Text != w.Text || g.FontName != w.FontName || g.MatrixKey != w.MatrixKey ||
            g.Colour != w.Colour || !sameDouble(g.Size, w.Size))
            return ::testing::AssertionFailure() << "block " << i << " differs: \"" << g.Text
                                                 << "\" against \"" << w.Text << "\"";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(TextFunnel, IndexedSearchJoinsExactlyAsAPlainScanOnRandomPages) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<TPDFMatrix> orientations = {{1, 0, 0, 1, 0, 0},
                                                  {0, 1, -1, 0, 0, 0},
                                                  {0.5, 0, 0, 0.5, 0, 0},
                                                  {0.7071, 0.7071, -0.7071, 0.7071, 0, 0}};
    const std::vector<double> sizes = {12, 12, 12, 12, 8, 30, 2, 0, -3, 0.0001, 500, inf, nan};
    const std::vector<std::string> fonts = {"Arial", "Times"};
    const std::vector<std::string> colours = {"#000000", "#FF0000"};
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        const auto uniform = [&](double lo, double hi) {
            return std::uniform_real_distribution<double>(lo, hi)(random);
        };
        const auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };
        TPDFTextFunnel funnel;
        PlainFunnel plain;
        const int runs = seed <= 3 ? 200 : 3000;
        for (int i = 0; i < runs; ++i) {
            TextRun run;
            run.Matrix = orientations[pick(orientations.size())];
            run.Text = std::string(1, static_cast<char>('a' + pick(26)));
            run.Width = uniform(0, 60);
            run.Height = 10;
            run.Size = sizes[pick(sizes.size())];
            run.FontName = fonts[pick(fonts.size())];
            run.Colour = colours[pick(colours.size())];
            double x = uniform(0, 600);
            double y = uniform(0, 800);
            if (!plain.blocks.empty() && pick(2) == 0) {
                // close to where some block ends, so that both passes find work
                const TPDFPoint end = plain.blocks[pick(plain.blocks.size())].LowerRight;
                x = end.x + uniform(-15, 15);
                y = end.y + (pick(3) == 0 ? 0 : uniform(-15, 15));
                if (pick(3) == 0 && std::isfinite(run.Size)) {
                    // just inside or outside a join distance, along one axis
                    const double r = run.Size * (pick(2) ? 1 : 0.2);
                    const double offsets[] = {r, -r, r * (1 - 1e-12), -r * (1 + 1e-12)};
                    const double d = offsets[pick(4)];
                    x = end.x + (pick(2) ? d : 0);
                    y = end.y + (x == end.x ? d : 0);
                }
            }
            const std::size_t odd = pick(200);
            if (odd == 0)
                x = 1e13;
            else if (odd == 1)
                y = -inf;
            else if (odd == 2)
                x = nan;
            run.Matrix.e = x;
            run.Matrix.f = y;
            if (pick(10) == 0) {
                funnel.SetJoinAllowed(false);
                plain.joinAllowed = false;
            }
            funnel.AddRun(run);
            plain.addRun(run);
            if (seed <= 3) {
                ASSERT_TRUE(sameBlocks(funnel.Blocks(), plain.blocks)) << "seed " << seed;
            }
        }
        ASSERT_TRUE(sameBlocks(funnel.Blocks(), plain.blocks)) << "seed " << seed;
        EXPECT_GT(plain.blocks.size(), 10u);
        EXPECT_LT(plain.blocks.size(), static_cast<std::size_t>(runs));
    }
}

TEST(TextFunnel, ManyScatteredRunsAreTakenWithoutComparingAllBlocks) {
    // 60000 words on a fine grid, none joining: a scan of every block would make 1.8e9
    // distance tests here.
    TPDFTextFunnel funnel;
    for (int i = 0; i < 60000; ++i)
        funnel.AddRun(runAt((i % 300) * 40.0, (i / 300) * 20.0, 10, "w"));
    EXPECT_EQ(funnel.Blocks().size(), 60000u);
    std::string records;
    funnel.WriteRecords(records);
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 60000);
}
