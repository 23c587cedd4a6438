// The page tree over documents made by the test writer: counting, locating, selecting, sizes,
// resources, content streams, and hostile trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "file/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::PdfWriter;

namespace {

// A writer with the catalog as object 1 pointing at the root `Pages` node, object 2.
PdfWriter treeWriter(const std::string& rootBody) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, rootBody);
    return w;
}

std::string page(int parent, const std::string& extra = "") {
    return "<< /Type /Page /Parent " + std::to_string(parent) + " 0 R " + extra + " >>";
}

std::unique_ptr<TPDFDocument> load(PdfWriter& w) {
    auto document = std::make_unique<TPDFDocument>();
    EXPECT_TRUE(document->LoadFromBytes(w.Finish()));
    return document;
}

int objNumOf(const TPDFObject* value) {
    return value ? value->ObjNum : -1;
}

bool slotLoaded(const TPDFDocument& document, int objNum) {
    const TPDFIndObj* slot = document.FindIndirect(objNum, 0);
    return slot && slot->Loaded;
}

// Root with `Count` 5 over two nodes: 3 (`Count` 2: pages 5, 6) and 4 (`Count` 3: 7, 8, 9).
std::unique_ptr<TPDFDocument> nestedDocument() {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 5 /Kids [3 0 R 4 0 R] >>");
    w.Set(3, "<< /Type /Pages /Parent 2 0 R /Count 2 /Kids [5 0 R 6 0 R] >>");
    w.Set(4, "<< /Type /Pages /Parent 2 0 R /Count 3 /Kids [7 0 R 8 0 R 9 0 R] >>");
    w.Set(5, page(3));
    w.Set(6, page(3));
    for (int n = 7; n <= 9; ++n)
        w.Set(n, page(4));
    return load(w);
}

} // namespace

// ---- counting and locating ---------------------------------------------------------------

TEST(PageTree, FlatKidsAreLocatedInKidsOrderAndOutOfRangeReselects) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 3 /Kids [5 0 R 3 0 R 4 0 R] >>");
    for (int n = 3; n <= 5; ++n)
        w.Set(n, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageCount(), 3);
    EXPECT_EQ(objNumOf(tree.LocatePage(1)), 5);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 3);
    EXPECT_EQ(objNumOf(tree.LocatePage(3)), 4);
    EXPECT_EQ(tree.LocatePage(0), nullptr);
    EXPECT_EQ(tree.LocatePage(4), nullptr);

    tree.SelectPage(2);
    ASSERT_EQ(tree.CurrentIndex(), 2);
    tree.SelectPage(4);
    EXPECT_EQ(tree.CurrentIndex(), 2);
    EXPECT_EQ(objNumOf(tree.CurrentPage()), 3);
    tree.SelectPage(0);
    EXPECT_EQ(tree.CurrentIndex(), 2);
    EXPECT_EQ(objNumOf(tree.CurrentPage()), 3);
}

TEST(PageTree, PageFourIsTheSecondKidOfTheSecondNodeAndTheFirstNodesKidsStayUnread) {
    auto document = nestedDocument();
    TPDFPageTree& tree = document->PageTree();
    // Loading selected page 1, which read object 5 but not its sibling.
    ASSERT_FALSE(slotLoaded(*document, 6));
    TPDFDictionary* found = tree.LocatePage(4);
    EXPECT_EQ(objNumOf(found), 8);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 4);
    EXPECT_EQ(tree.LocatedObjNum(), 8);
    EXPECT_FALSE(slotLoaded(*document, 6));
    EXPECT_FALSE(slotLoaded(*document, 9));
}

TEST(PageTree, PagesOfANodeWithoutCountCannotBeLocatedAndLaterPagesShiftDown) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 3 /Kids [3 0 R 5 0 R 6 0 R] >>");
    w.Set(3, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] >>");
    w.Set(4, page(3));
    w.Set(5, page(2));
    w.Set(6, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(objNumOf(tree.LocatePage(1)), 5);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 6);
    EXPECT_EQ(tree.LocatePage(3), nullptr);
}

TEST(PageTree, UntypedKidsAndDirectDictionariesAreSkippedAndNotCounted) {
    PdfWriter w =
        treeWriter("<< /Type /Pages /Count 3 /Kids [3 0 R << /Type /Page >> 4 0 R 5 0 R 6 0 R] >>");
    w.Set(3, "<< /Parent 2 0 R >>");
    w.Set(4, "<< /Type /page /Parent 2 0 R >>"); // the type is compared case-sensitively
    w.Set(5, page(2));
    w.Set(6, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(objNumOf(tree.LocatePage(1)), 5);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 6);
    EXPECT_EQ(tree.LocatePage(3), nullptr);
}

TEST(PageTree, CountComesFromTheRootAloneAndIsNeverNegative) {
    {
        PdfWriter w = treeWriter("<< /Type /Pages /Kids [3 0 R] >>");
        w.Set(3, page(2));
        auto document = load(w);
        EXPECT_EQ(document->PageTree().PageCount(), 0);
        EXPECT_EQ(document->PageTree().CurrentPage(), nullptr);
    }
    {
        PdfWriter w = treeWriter("<< /Type /Pages /Count -4 /Kids [3 0 R] >>");
        w.Set(3, page(2));
        EXPECT_EQ(load(w)->PageTree().PageCount(), 0);
    }
    {
        // Indirect and rounded: 2.5 rounds to even.
        PdfWriter w = treeWriter("<< /Type /Pages /Count 4 0 R /Kids [3 0 R] >>");
        w.Set(3, page(2));
        w.Set(4, "2.5");
        EXPECT_EQ(load(w)->PageTree().PageCount(), 2);
    }
}

TEST(PageTree, AHugeCountCostsNothingAndPagesBeyondTheKidsAreNotFound) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 2147483647 /Kids [3 0 R] >>");
    w.Set(3, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageCount(), 2147483647);
    EXPECT_EQ(tree.LocatePage(2147483647), nullptr);
    tree.SelectPage(2000000000);
    EXPECT_EQ(tree.CurrentPage(), nullptr);
    EXPECT_EQ(tree.CurrentIndex(), 1);
}

TEST(PageTree, PagesPassedAfterANegativeCountAreNotTakenForLaterLookups) {
    // Node 3 holds pages 1 and 2; node 4 subtracts 2 from the counter, so a walk for page 4
    // passes page 6 at the position 2 although page 2 is object 11.
    PdfWriter w =
        treeWriter("<< /Type /Pages /Count 6 /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] >>");
    w.Set(3, "<< /Type /Pages /Parent 2 0 R /Count 2 /Kids [10 0 R 11 0 R] >>");
    w.Set(4, "<< /Type /Pages /Parent 2 0 R /Count -2 /Kids [] >>");
    for (int n = 5; n <= 8; ++n)
        w.Set(n, page(2));
    w.Set(10, page(3));
    w.Set(11, page(3));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(objNumOf(tree.LocatePage(4)), 8);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 11);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 3);
}

TEST(PageTree, PagesTurnedInOrderKeepTheirParentsAndReferences) {
    auto document = nestedDocument();
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(objNumOf(tree.LocatePage(5)), 9);
    // Served without walking again, with what a walk would have said.
    EXPECT_EQ(objNumOf(tree.LocatePage(3)), 7);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 4);
    EXPECT_EQ(tree.LocatedObjNum(), 7);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 6);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 3);
}

namespace {

struct WalkResult {
    int Page = -1;
    int Parent = -1;
    int Located = -1;
    bool operator==(const WalkResult&) const = default;
};

std::ostream& operator<<(std::ostream& out, const WalkResult& r) {
    return out << "{page " << r.Page << ", parent " << r.Parent << ", located " << r.Located << "}";
}

// The walk as the rules state it, from the root every time, nothing remembered.
WalkResult referenceWalk(TPDFDictionary* root, int index) {
    WalkResult r;
    r.Parent = objNumOf(root);
    const TPDFArray* kids = AsArray(root->Get("Kids"));
    std::int64_t passed = 0;
    int i = 0;
    for (int steps = 0; kids && i < kids->Count() && steps < 100000; ++steps) {
        const TPDFIndRef* ref = AsRef(kids->Item(i++));
        if (!ref)
            continue;
        r.Located = ref->RefObjNum();
        TPDFDictionary* node = AsDictionary(ref->Resolve());
        if (!node)
            continue;
        if (node->GetTypeName() == "Pages") {
            const auto* count = Cast<TPDFNumeric>(node->Get("Count"));
            const std::int64_t n = count ? count->IntValue() : 0;
            if (index > passed + n) {
                passed += n;
            } else if (const TPDFArray* sub = AsArray(node->Get("Kids"))) {
                r.Parent = objNumOf(node);
                kids = sub;
                i = 0;
            }
        } else if (node->GetTypeName() == "Page") {
            if (passed + 1 == index) {
                r.Page = objNumOf(node);
                return r;
            }
            ++passed;
        }
    }
    return r;
}

WalkResult locate(TPDFPageTree& tree, int index) {
    WalkResult r;
    if (TPDFDictionary* page = tree.LocatePage(index))
        r.Page = objNumOf(page);
    r.Parent = objNumOf(tree.CurrentParent());
    r.Located = tree.LocatedObjNum();
    return r;
}

// Counts that lie in every direction: too small, too large, negative, missing, `Kids` that are
// no array, untyped kids, nodes deep and shallow.
std::unique_ptr<TPDFDocument> lyingDocument() {
    PdfWriter w = treeWriter(
        "<< /Type /Pages /Count 16 /Kids [3 0 R 20 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 21 0 R] >>");
    w.Set(3, "<< /Type /Pages /Count 3 /Kids [22 0 R 23 0 R 24 0 R 25 0 R] >>");
    w.Set(4, "<< /Type /Pages /Count 1 /Kids [26 0 R 27 0 R] >>");
    w.Set(5, "<< /Type /Pages /Count -1 /Kids [28 0 R] >>");
    w.Set(6, "<< /Type /Pages /Kids [29 0 R] >>");
    w.Set(7, "<< /Type /Pages /Count 2 /Kids 5 >>");
    w.Set(8, "<< /Type /Pages /Count 6 /Kids [9 0 R 30 0 R 31 0 R 10 0 R] >>");
    w.Set(9, "<< /Type /Pages /Count 2 /Kids [32 0 R 33 0 R] >>");
    w.Set(10, "<< /Type /Pages /Count 5 /Kids [34 0 R 35 0 R] >>");
    for (int n = 20; n <= 35; ++n)
        w.Set(n, n == 24 ? "<< /Parent 3 0 R >>" : page(2));
    return load(w);
}

} // namespace

TEST(PageTree, LocatingInAnyOrderAgreesWithAFreshWalkFromTheRoot) {
    std::vector<std::vector<int>> orders;
    std::vector<int> forward;
    for (int i = 0; i <= 18; ++i)
        forward.push_back(i);
    orders.push_back(forward);
    orders.emplace_back(forward.rbegin(), forward.rend());
    std::vector<int> scrambled;
    for (int i = 0; i < 40; ++i)
        scrambled.push_back((i * 7 + 3) % 19);
    orders.push_back(scrambled);

    for (const auto& order : orders) {
        auto document = lyingDocument();
        TPDFPageTree& tree = document->PageTree();
        for (const int index : order) {
            const WalkResult expected = index >= 1 && index <= tree.PageCount()
                                            ? referenceWalk(tree.RootNode(), index)
                                            : WalkResult{};
            const WalkResult got = locate(tree, index);
            if (index < 1 || index > tree.PageCount())
                EXPECT_EQ(got.Page, -1) << "page " << index;
            else
                EXPECT_EQ(got, expected) << "page " << index;
        }
    }
}

namespace {

// A random tree whose counts are right, off by a little, negative or missing, with kids of every
// kind; objects are numbered from 3 in the order they are made.
std::unique_ptr<TPDFDocument> randomDocument(std::mt19937& random, int& rootCount) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    int next = 3;
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // Returns the true number of pages below the node it writes as object `num`.
    std::function<int(int, int, int)> makeNode = [&](int num, int parent, int depth) {
        std::string kids;
        int pages = 0;
        const int n = 1 + pick(4);
        for (int k = 0; k < n; ++k) {
            const int kid = next++;
            kids += std::to_string(kid) + " 0 R ";
            const int kind = depth >= 3 ? pick(3) : pick(5);
            if (kind <= 1) {
                w.Set(kid, page(num));
                ++pages;
            } else if (kind == 2) {
                w.Set(kid, "<< /Parent " + std::to_string(num) + " 0 R >>");
            } else {
                pages += makeNode(kid, num, depth + 1);
            }
        }
        if (pick(6) == 0)
            kids += "<< /Type /Page >> ";
        std::string count;
        switch (pick(6)) {
        case 0:
            break; // no count
        case 1:
            count = "/Count " + std::to_string(pages + 1 + pick(3));
            break;
        case 2:
            count = "/Count " + std::to_string(pages - 1 - pick(3));
            break;
        default:
            count = "/Count " + std::to_string(pages);
        }
        const std::string kidsEntry = pick(8) == 0 ? "/Kids 7" : "/Kids [" + kids + "]";
        w.Set(num, "<< /Type /Pages /Parent " + std::to_string(parent) + " 0 R " + count + " " +
                       kidsEntry + " >>");
        return pages;
    };
    std::string kids;
    int pages = 0;
    for (int k = 0; k < 4; ++k) {
        const int kid = next++;
        kids += std::to_string(kid) + " 0 R ";
        pages += pick(3) == 0 ? (w.Set(kid, page(2)), 1) : makeNode(kid, 2, 1);
    }
    rootCount = pages + 2;
    w.Set(2, "<< /Type /Pages /Count " + std::to_string(rootCount) + " /Kids [" + kids + "] >>");
    return load(w);
}

} // namespace

TEST(PageTree, RandomTreesLocateLikeAFreshWalkInAnyOrder) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        int count = 0;
        auto document = randomDocument(random, count);
        TPDFPageTree& tree = document->PageTree();
        ASSERT_EQ(tree.PageCount(), count);
        std::vector<int> order;
        for (int i = 1; i <= count; ++i)
            order.push_back(i);
        if (seed % 3 == 1)
            std::reverse(order.begin(), order.end());
        else if (seed % 3 == 2)
            std::shuffle(order.begin(), order.end(), random);
        for (int round = 0; round < 2; ++round)
            for (const int index : order)
                ASSERT_EQ(locate(tree, index), referenceWalk(tree.RootNode(), index))
                    << "seed " << seed << " page " << index;
    }
}

TEST(PageTree, TurningFiftyThousandPagesInOrderWalksOnce) {
    std::string kids;
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    constexpr int kPages = 50000;
    for (int i = 0; i < kPages; ++i) {
        kids += std::to_string(3 + i) + " 0 R ";
        w.Set(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 20] >>");
    }
    w.Set(2, "<< /Type /Pages /Count " + std::to_string(kPages) + " /Kids [" + kids + "] >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    // One walk per page from the root would take minutes here.
    for (int i = 1; i <= kPages; ++i)
        ASSERT_EQ(objNumOf(tree.LocatePage(i)), 2 + i);
}

// ---- hostile trees ------------------------------------------------------------------------

TEST(PageTree, AKidsCycleEndsTheWalk) {
    // Node 3 lists the root again; node 4 lists itself.
    PdfWriter w = treeWriter("<< /Type /Pages /Count 3 /Kids [3 0 R] >>");
    w.Set(3, "<< /Type /Pages /Parent 2 0 R /Count 3 /Kids [2 0 R 4 0 R] >>");
    w.Set(4, "<< /Type /Pages /Parent 3 0 R /Count 3 /Kids [4 0 R] >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.LocatePage(1), nullptr);
    EXPECT_EQ(tree.LocatePage(3), nullptr);
    EXPECT_EQ(tree.CurrentPage(), nullptr);
}

TEST(PageTree, ChainsUpToTheDepthBoundAreWalkedAndDeeperOnesAreNot) {
    auto chain = [](int depth) {
        // Nodes 3 .. 3 + depth - 1, each the only kid of the one before; the page last.
        PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
        for (int i = 0; i < depth; ++i)
            w.Set(3 + i, "<< /Type /Pages /Count 1 /Kids [" + std::to_string(4 + i) + " 0 R] >>");
        w.Set(3 + depth, page(2 + depth));
        return w;
    };
    PdfWriter shallow = chain(kMaxTreeDepth);
    EXPECT_EQ(objNumOf(load(shallow)->PageTree().CurrentPage()), 3 + kMaxTreeDepth);
    PdfWriter deep = chain(kMaxTreeDepth + 1);
    EXPECT_EQ(load(deep)->PageTree().CurrentPage(), nullptr);
}

TEST(PageTree, AParentLoopEndsTheMediaBoxSearch) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, "<< /Type /Page /Parent 4 0 R >>");
    w.Set(4, "<< /Type /Pages /Parent 5 0 R >>");
    w.Set(5, "<< /Type /Pages /Parent 4 0 R >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageWidth(), 612);
    EXPECT_EQ(tree.PageHeight(), 792);
}

TEST(PageTree, WithoutASelectedPageSizesAreZeroAndThereAreNoResources) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [] >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    ASSERT_EQ(tree.CurrentPage(), nullptr);
    EXPECT_EQ(tree.PageWidth(), 0);
    EXPECT_EQ(tree.PageHeight(), 0);
    EXPECT_EQ(tree.PageResources(), nullptr);
    EXPECT_EQ(tree.ContentData(), "");
    EXPECT_FALSE(tree.PageReady());
}

TEST(PageTree, ATreeWithoutRootHasNoPages) {
    TPDFPageTree tree(nullptr);
    EXPECT_EQ(tree.PageCount(), 0);
    tree.SelectPage(1);
    EXPECT_EQ(tree.CurrentPage(), nullptr);
    EXPECT_EQ(tree.PageWidth(), 0);
    EXPECT_EQ(tree.PageResources(), nullptr);
}

// ---- sizes --------------------------------------------------------------------------------

TEST(PageTree, MediaBoxIsInheritedAndSidesAreAbsoluteDifferences) {
    PdfWriter w =
        treeWriter("<< /Type /Pages /Count 3 /MediaBox [0 0 300 400] /Kids [3 0 R 4 0 R 5 0 R] >>");
    w.Set(3, page(2));
    w.Set(4, page(2, "/MediaBox [612 792 0 0]"));
    w.Set(5, page(2, "/MediaBox 6 0 R /CropBox [0 0 10 10] /Rotate 90"));
    w.Set(6, "[10 20 110.5 220.25]");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    tree.SelectPage(1);
    EXPECT_EQ(tree.PageWidth(), 300);
    EXPECT_EQ(tree.PageHeight(), 400);
    EXPECT_EQ(tree.CurrentPage()->Get("MediaBox"), nullptr); // inherited, not written
    tree.SelectPage(2);
    EXPECT_EQ(tree.PageWidth(), 612);
    EXPECT_EQ(tree.PageHeight(), 792);
    tree.SelectPage(3);
    EXPECT_DOUBLE_EQ(tree.PageWidth(), 100.5);
    EXPECT_DOUBLE_EQ(tree.PageHeight(), 200.25);
}

TEST(PageTree, APageWithoutAnyMediaBoxGetsTheDefaultWrittenIn) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageHeight(), 792);
    EXPECT_EQ(tree.PageWidth(), 612);
    const TPDFArray* box = AsArray(tree.CurrentPage()->Get("MediaBox"));
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->Count(), 4);
    EXPECT_EQ(AsNumber(box->Item(0)), 0);
    EXPECT_EQ(AsNumber(box->Item(1)), 0);
    EXPECT_EQ(AsNumber(box->Item(2)), 612);
    EXPECT_EQ(AsNumber(box->Item(3)), 792);
}

TEST(PageTree, TheRootsDirectMediaBoxIsTheDefaultForAPageOutsideItsChain) {
    // The page has no `Parent`, so the root's box is not inherited but serves as the default.
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /MediaBox [0 0 200 -100] /Kids [3 0 R] >>");
    w.Set(3, "<< /Type /Page >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageWidth(), 200);
    EXPECT_EQ(tree.PageHeight(), 100);
    const TPDFArray* box = AsArray(tree.CurrentPage()->Get("MediaBox"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(AsNumber(box->Item(2)), 200);
    EXPECT_EQ(AsNumber(box->Item(3)), 100);
}

TEST(PageTree, NonNumericMediaBoxElementsCountAsZero) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2, "/MediaBox [/a 5 250]"));
    auto document = load(w);
    EXPECT_EQ(document->PageTree().PageWidth(), 250);
    EXPECT_EQ(document->PageTree().PageHeight(), 5);
}

// ---- content streams ----------------------------------------------------------------------

TEST(PageTree, OneContentStreamBecomesAnArrayWithAMarkedStreamAfterIt) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2, "/Contents 4 0 R"));
    w.SetStream(4, "/Filter /FlateDecode", tolvane_test::Deflate("BT (Hi) Tj ET"));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    ASSERT_TRUE(tree.PageReady());
    const TPDFArray* contents = AsArray(tree.CurrentPage()->Get("Contents", false));
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->Count(), 2);
    const TPDFIndRef* first = AsRef(contents->Item(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->RefObjNum(), 4);
    ASSERT_NE(AsRef(contents->Item(1)), nullptr);
    const TPDFStream* marked = AsStream(AsRef(contents->Item(1))->Resolve());
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(AsName(marked->Dictionary()->Get("LC"))->Value(), "ZLQR");

    ASSERT_EQ(tree.ContentStreams().size(), 2u);
    EXPECT_EQ(tree.StreamCursor(), 2);
    EXPECT_EQ(tree.ContentData(), "");
    tree.SetStreamCursor(1);
    EXPECT_EQ(tree.ContentData(), "BT (Hi) Tj ET");

    // A second selection finds its own marker last and adds nothing.
    tree.SelectPage(1);
    EXPECT_EQ(AsArray(tree.CurrentPage()->Get("Contents", false))->Count(), 2);
}

TEST(PageTree, MissingContentsGetOneMarkedStream) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    const TPDFArray* contents = AsArray(tree.CurrentPage()->Get("Contents", false));
    ASSERT_NE(contents, nullptr);
    EXPECT_EQ(contents->Count(), 1);
    EXPECT_EQ(tree.ContentStreams().size(), 1u);
    EXPECT_TRUE(tree.PageReady());
}

TEST(PageTree, BrokenContentReferencesBecomeEmptyStreams) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2, "/Contents [4 0 R 99 0 R 5 0 R 7]"));
    w.SetStream(4, "", "q");
    w.Set(5, "(not a stream)");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    const TPDFArray* contents = AsArray(tree.CurrentPage()->Get("Contents", false));
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->Count(), 5); // four elements and the marker
    ASSERT_EQ(tree.ContentStreams().size(), 5u);
    for (int i = 0; i < contents->Count(); ++i) {
        const TPDFIndRef* ref = AsRef(contents->Item(i));
        ASSERT_NE(ref, nullptr) << i;
        EXPECT_EQ(AsStream(ref->Resolve()), tree.ContentStreams()[std::size_t(i)]) << i;
    }
    EXPECT_NE(AsRef(contents->Item(1))->RefObjNum(), 99);
    const std::string expected[] = {"q", "", "", "", ""};
    for (int i = 1; i <= 5; ++i) {
        tree.SetStreamCursor(i);
        EXPECT_EQ(tree.ContentData(), expected[i - 1]) << i;
    }
}

TEST(PageTree, ASharedContentsArrayIsUsedItself) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 2 /Kids [3 0 R 4 0 R] >>");
    w.Set(3, page(2, "/Contents 5 0 R"));
    w.Set(4, page(2, "/Contents 5 0 R"));
    w.Set(5, "[6 0 R]");
    w.SetStream(6, "", "BT ET");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    tree.SelectPage(2);
    const TPDFArray* shared = AsArray(document->ResolveRef(5, 0));
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->Count(), 2); // one marker, added by the first selection
    EXPECT_TRUE(AsRef(tree.CurrentPage()->Get("Contents", false)));
}

TEST(PageTree, AMarkedLastStreamIsReusedUnlessItIsLarge) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 2 /Kids [3 0 R 4 0 R] >>");
    w.Set(3, page(2, "/Contents [5 0 R]"));
    w.Set(4, page(2, "/Contents [6 0 R]"));
    w.SetStream(5, "/LC /ZLQR", std::string(kMaxMarkedStreamData, ' '));
    w.SetStream(6, "/LC /ZLQR", std::string(kMaxMarkedStreamData + 1, ' '));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.ContentStreams().size(), 1u);
    tree.SelectPage(2);
    EXPECT_EQ(tree.ContentStreams().size(), 2u);
}

TEST(PageTree, ContentsOfAnotherKindGiveNoStreamsAndNoReadyPage) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 1 /Kids [3 0 R] >>");
    w.Set(3, page(2, "/Contents 12"));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_NE(tree.CurrentPage(), nullptr);
    EXPECT_TRUE(tree.ContentStreams().empty());
    EXPECT_FALSE(tree.PageReady());
    EXPECT_EQ(tree.ContentData(), "");
}

// ---- resources ----------------------------------------------------------------------------

TEST(PageTree, ResourcesComeFromTheImmediateParentOnly) {
    PdfWriter w =
        treeWriter("<< /Type /Pages /Count 2 /Resources << /Font 9 >> /Kids [3 0 R 4 0 R] >>");
    w.Set(3, "<< /Type /Pages /Parent 2 0 R /Count 1 /Kids [5 0 R] >>");
    w.Set(4, "<< /Type /Pages /Parent 2 0 R /Count 1 /Resources 7 0 R /Kids [6 0 R] >>");
    w.Set(5, page(3));
    w.Set(6, page(4));
    w.Set(7, "<< /ProcSet [/PDF] >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();

    tree.SelectPage(2);
    TPDFDictionary* fromParent = tree.PageResources();
    EXPECT_EQ(fromParent, document->ResolveRef(7, 0));

    // The grandparent's resources are not found: the page gets an empty dictionary of its own.
    tree.SelectPage(1);
    TPDFDictionary* fresh = tree.PageResources();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Count(), 0);
    EXPECT_EQ(tree.CurrentPage()->Get("Resources"), fresh);
    EXPECT_EQ(tree.PageResources(), fresh);
}

TEST(PageTree, ResourcesThatAreNoDictionaryAreReplacedByAnEmptyOne) {
    PdfWriter w = treeWriter("<< /Type /Pages /Count 2 /Kids [3 0 R 4 0 R] >>");
    w.Set(3, page(2, "/Resources 5 0 R"));
    w.Set(4, page(2, "/Resources [1 2]"));
    w.Set(5, "<< /XObject << >> >>");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageResources(), document->ResolveRef(5, 0));
    tree.SelectPage(2);
    TPDFDictionary* replaced = tree.PageResources();
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->Count(), 0);
    EXPECT_EQ(AsDictionary(tree.CurrentPage()->Get("Resources")), replaced);
}

// ---- reporting ----------------------------------------------------------------------------

TEST(PageTree, ReportLocatedPageHandsOverTheLastPageFound) {
    auto document = nestedDocument();
    TPDFPageTree& tree = document->PageTree();
    std::pair<int, int> reported{-1, -1};
    tree.OnLocatedPage = [&](std::int32_t num, std::int32_t gen) { reported = {num, gen}; };
    tree.SelectPage(4);
    tree.ReportLocatedPage();
    EXPECT_EQ(reported, std::make_pair(8, 0));
    tree.OnLocatedPage = nullptr;
    tree.ReportLocatedPage(); // no callback: nothing happens
}
