// The reach of a page tree: no page the walk can find lies beyond it, and trees whose Count
// claims far more pages than their Kids hold are bounded by their leaves.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "pages/uPDFPageReach.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"

using namespace korvel;

namespace {

// A document whose root is object 2; `nodes` are the page-tree objects from 3 on.
std::int64_t reachOf(korvel::TKorvel& engine, const std::string& rootBody,
                     const std::vector<std::string>& nodes) {
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, rootBody);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        w.Set(static_cast<int>(i) + 3, nodes[i]);
    if (engine.LoadFromBytes(w.Finish()) != 1)
        return -2;
    return LocatablePageBound(engine.SelectedDocumentObject().PageTree().RootNode());
}

const std::string kLeaf = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

} // namespace

TEST(PageReach, FlatAndNestedTreesReachTheirLeaves) {
    TKorvel engine;
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                      {kLeaf, kLeaf, kLeaf}),
              3);
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>", {kLeaf}), 1);
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>",
                      {"<< /Type /Pages /Kids [4 0 R] /Count 2147483647 >>", kLeaf}),
              1)
        << "a node's Count does not reach past its own leaves";
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2000 >>",
                      {"<< /Type /Pages /Kids [5 0 R] /Count 1000 >>", kLeaf, kLeaf}),
              1001)
        << "a node passed over counts its claimed pages, so the next leaf is page 1001";
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Count 5 >>", {}), 0);
    EXPECT_EQ(reachOf(engine, "<< /Type /Pages /Kids [3 0 R] /Count 9 >>",
                      {"<< /Type /Pages /Kids [3 0 R] /Count 9 >>"}),
              -1)
        << "a cycle is not bounded";
}

TEST(PageReach, NoPageTheWalkFindsLiesBeyondTheReach) {
    // Random trees with lying counts (too high, too low, negative) and broken kids.
    std::mt19937 random(23);
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> nodes;
        std::function<std::string(int)> makeKids = [&](int depth) {
            std::string kids;
            const int n = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < n; ++i) {
                const int num = static_cast<int>(nodes.size()) + 3;
                nodes.emplace_back();
                const int kind = static_cast<int>(random() % 6);
                if (depth > 3 || kind < 3) {
                    nodes[num - 3] = kLeaf;
                } else if (kind == 5) {
                    nodes[num - 3] =
                        "<< /Type /Pages /Count " + std::to_string(random() % 5) + " >>";
                } else {
                    const int count = static_cast<int>(random() % 9) - 2;
                    const std::string sub = makeKids(depth + 1);
                    nodes[num - 3] = "<< /Type /Pages /Kids [" + sub + "] /Count " +
                                     std::to_string(count) + " >>";
                }
                kids += std::to_string(num) + " 0 R ";
            }
            return kids;
        };
        const std::string root = "<< /Type /Pages /Kids [" + makeKids(0) + "] /Count 200 >>";
        TKorvel engine;
        const std::int64_t reach = reachOf(engine, root, nodes);
        ASSERT_GE(reach, 0);
        TPDFPageTree& tree = engine.SelectedDocumentObject().PageTree();
        for (int page = 1; page <= 200; ++page)
            if (tree.LocatePage(page)) {
                ASSERT_LE(page, reach) << "round " << round;
            }
    }
}
