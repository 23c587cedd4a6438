// The page tree over documents made by the test writer: counting, locating, selecting, sizes,
// resources, content streams, and hostile trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "document/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::PdfWriter;

namespace {

const std::string kOneKid = "<< /Type /Pages /Count 1 /Kids [3 0 R] >>";

std::string page(int parent, const std::string& extra = "") {
    return "<< /Type /Page /Parent " + std::to_string(parent) + " 0 R " + extra + " >>";
}

// The catalog as object 1 pointing at the root `Pages` node, object 2; the bodies are objects
// 3, 4, ... (an empty body leaves its number undefined).
PdfWriter treeWriter(const std::string& root, const std::vector<std::string>& bodies = {}) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, root);
    for (std::size_t i = 0; i < bodies.size(); ++i)
        if (!bodies[i].empty())
            w.Set(3 + int(i), bodies[i]);
    return w;
}

std::unique_ptr<TPDFDocument> load(PdfWriter w) {
    auto document = std::make_unique<TPDFDocument>();
    EXPECT_TRUE(document->LoadFromBytes(w.Finish()));
    return document;
}

std::unique_ptr<TPDFDocument> load(const std::string& root,
                                   const std::vector<std::string>& bodies) {
    return load(treeWriter(root, bodies));
}

int objNumOf(const TPDFObject* value) {
    return value ? value->ObjNum : -1;
}

// Object numbers located for pages 0 .. Count + 1, in that order (-1: not found).
std::vector<int> locateAll(const std::string& root, const std::vector<std::string>& bodies) {
    auto document = load(root, bodies);
    TPDFPageTree& tree = document->PageTree();
    std::vector<int> found;
    for (int i = 0; i <= tree.PageCount() + 1; ++i)
        found.push_back(objNumOf(tree.LocatePage(i)));
    return found;
}

void expectNoSelectedPage(TPDFPageTree& tree) {
    EXPECT_EQ(tree.CurrentPage(), nullptr);
    EXPECT_EQ(tree.PageWidth(), 0);
    EXPECT_EQ(tree.PageHeight(), 0);
    EXPECT_EQ(tree.PageResources(), nullptr);
    EXPECT_EQ(tree.ContentData(), "");
    EXPECT_FALSE(tree.PageReady());
}

} // namespace

// ---- counting and locating ---------------------------------------------------------------

TEST(PageTree, KidsAreLocatedInOrderPastWhatCannotBeCountedOrIsNoPage) {
    using V = std::vector<int>;
    EXPECT_EQ(locateAll("<< /Type /Pages /Count 3 /Kids [5 0 R 3 0 R 4 0 R] >>",
                        {page(2), page(2), page(2)}),
              (V{-1, 5, 3, 4, -1}));
    // A node without `Count` holds no page: the later pages shift down.
    EXPECT_EQ(
        locateAll("<< /Type /Pages /Count 3 /Kids [3 0 R 5 0 R 6 0 R] >>",
                  {"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] >>", page(3), page(2), page(2)}),
        (V{-1, 5, 6, -1, -1}));
    // Untyped kids, types compared case-sensitively, direct dictionaries: all skipped.
    EXPECT_EQ(
        locateAll("<< /Type /Pages /Count 3 /Kids [3 0 R << /Type /Page >> 4 0 R 5 0 R "
                  "6 0 R] >>",
                  {"<< /Parent 2 0 R >>", "<< /Type /page /Parent 2 0 R >>", page(2), page(2)}),
        (V{-1, 5, 6, -1, -1}));

    // Selecting out of range re-selects the current page; each selection has its own size.
    auto document = load("<< /Type /Pages /Count 3 /Kids [5 0 R 3 0 R 4 0 R] >>",
                         {page(2, "/MediaBox [0 0 3 1]"), page(2), page(2, "/MediaBox [0 0 5 1]")});
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageWidth(), 5);
    tree.SelectPage(2);
    for (const int outOfRange : {4, 0}) {
        tree.SelectPage(outOfRange);
        EXPECT_EQ(tree.CurrentIndex(), 2);
        EXPECT_EQ(objNumOf(tree.CurrentPage()), 3);
        EXPECT_EQ(tree.PageWidth(), 3);
    }
}

TEST(PageTree, CountComesFromTheRootAloneAndIsNeverNegative) {
    const std::pair<const char*, int> rows[] = {
        {"<< /Type /Pages /Kids [3 0 R] >>", 0},
        {"<< /Type /Pages /Count -4 /Kids [3 0 R] >>", 0},
        {"<< /Type /Pages /Count 4 0 R /Kids [3 0 R] >>", 2}, // 2.5, rounded to even
        {"<< /Type /Pages /Count 1 /Kids [] >>", 1},
    };
    for (const auto& [root, count] : rows) {
        SCOPED_TRACE(root);
        auto document = load(root, {page(2), "2.5"});
        TPDFPageTree& tree = document->PageTree();
        EXPECT_EQ(tree.PageCount(), count);
        if (count == 2)
            EXPECT_EQ(objNumOf(tree.CurrentPage()), 3);
        else
            expectNoSelectedPage(tree);
    }
    TPDFPageTree rootless(nullptr);
    EXPECT_EQ(rootless.PageCount(), 0);
    rootless.SelectPage(1);
    expectNoSelectedPage(rootless);
}

TEST(PageTree, AHugeCountCostsNothingAndPagesBeyondTheKidsAreNotFound) {
    auto document = load("<< /Type /Pages /Count 2147483647 /Kids [3 0 R] >>", {page(2)});
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(tree.PageCount(), 2147483647);
    EXPECT_EQ(tree.LocatePage(2147483647), nullptr);
    tree.SelectPage(2000000000);
    EXPECT_EQ(tree.CurrentPage(), nullptr);
    EXPECT_EQ(tree.CurrentIndex(), 1);
}

TEST(PageTree, PagesPassedAfterANegativeCountAreNotTakenForLaterLookups) {
    // Node 3 holds pages 1 and 2; node 4 subtracts 2 from the counter, so a walk for page 4
    // passes page 6 at the position 2 although page 2 is object 10.
    auto document = load("<< /Type /Pages /Count 6 /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] >>",
                         {"<< /Type /Pages /Parent 2 0 R /Count 2 /Kids [9 0 R 10 0 R] >>",
                          "<< /Type /Pages /Parent 2 0 R /Count -2 /Kids [] >>", page(2), page(2),
                          page(2), page(2), page(3), page(3)});
    TPDFPageTree& tree = document->PageTree();
    EXPECT_EQ(objNumOf(tree.LocatePage(4)), 8);
    EXPECT_EQ(objNumOf(tree.LocatePage(2)), 10);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 3);
}

TEST(PageTree, PageFourIsTheSecondKidOfTheSecondNodeAndTheFirstNodesKidsStayUnread) {
    // Root with `Count` 5 over two nodes: 3 (`Count` 2: pages 5, 6) and 4 (`Count` 3: 7, 8, 9).
    auto document = load("<< /Type /Pages /Count 5 /Kids [3 0 R 4 0 R] >>",
                         {"<< /Type /Pages /Parent 2 0 R /Count 2 /Kids [5 0 R 6 0 R] >>",
                          "<< /Type /Pages /Parent 2 0 R /Count 3 /Kids [7 0 R 8 0 R 9 0 R] >>",
                          page(3), page(3), page(4), page(4), page(4)});
    TPDFPageTree& tree = document->PageTree();
    auto loaded = [&](int num) { return document->FindIndirect(num, 0)->Loaded; };
    ASSERT_FALSE(loaded(6)); // loading selected page 1, which read object 5 but not its sibling
    EXPECT_EQ(objNumOf(tree.LocatePage(4)), 8);
    EXPECT_EQ(objNumOf(tree.CurrentParent()), 4);
    EXPECT_EQ(tree.LocatedObjNum(), 8);
    EXPECT_FALSE(loaded(6));
    EXPECT_FALSE(loaded(9));

    std::pair<int, int> reported{-1, -1};
    tree.OnLocatedPage = [&](std::int32_t num, std::int32_t gen) { reported = {num, gen}; };
    tree.ReportLocatedPage();
    EXPECT_EQ(reported, std::make_pair(8, 0));
    tree.OnLocatedPage = nullptr;
    tree.ReportLocatedPage(); // no callback: nothing happens

    // Pages passed on the way are served without walking again, with what a walk would say.
    EXPECT_EQ(objNumOf(tree.LocatePage(5)), 9);
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

// A random tree whose counts are right, off by a little, negative or missing, with kids of every
// kind; objects are numbered from 3 in the order they are made.
std::unique_ptr<TPDFDocument> randomDocument(std::mt19937& random, int& rootCount) {
    PdfWriter w = treeWriter("");
    int next = 3;
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // Returns the true number of pages below the node it writes as object `num`.
    std::function<int(int, int, int)> makeNode = [&](int num, int parent, int depth) {
        std::string kids;
        int pages = 0;
        for (int k = 0, n = 1 + pick(4); k < n; ++k) {
            const int kid = next++;
            kids += std::to_string(kid) + " 0 R ";
            const int kind = depth >= 3 ? pick(3) : pick(5);
            if (kind <= 1)
                w.Set(kid, page(num)), ++pages;
            else if (kind == 2)
                w.Set(kid, "<< /Parent " + std::to_string(num) + " 0 R >>");
            else
                pages += makeNode(kid, num, depth + 1);
        }
        if (pick(6) == 0)
            kids += "<< /Type /Page >> ";
        const int c = pick(6); // 0: no count, 1: too many, 2: too few, else right
        const std::string count = c == 0 ? ""
                                         : "/Count " + std::to_string(c == 1   ? pages + 1 + pick(3)
                                                                      : c == 2 ? pages - 1 - pick(3)
                                                                               : pages);
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

// The walk goes on from where the last one stopped and caches the pages it passes; comparing it
// with a plain walk on random hostile trees has caught real faults.
TEST(PageTree, LocatingInAnyOrderAgreesWithAFreshWalkFromTheRoot) {
    // Pages turned forwards, backwards or shuffled, with numbers out of range among them.
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        int count = 0;
        auto document = randomDocument(random, count);
        TPDFPageTree& tree = document->PageTree();
        ASSERT_EQ(tree.PageCount(), count);
        std::vector<int> order;
        for (int i = 0; i <= count + 1; ++i)
            order.push_back(i);
        if (seed % 3 == 1)
            std::reverse(order.begin(), order.end());
        else if (seed % 3 == 2)
            std::shuffle(order.begin(), order.end(), random);
        for (int round = 0; round < 2; ++round)
            for (const int index : order) {
                const WalkResult got{objNumOf(tree.LocatePage(index)),
                                     objNumOf(tree.CurrentParent()), tree.LocatedObjNum()};
                if (index < 1 || index > count)
                    ASSERT_EQ(got.Page, -1) << "seed " << seed << " page " << index;
                else
                    ASSERT_EQ(got, referenceWalk(tree.RootNode(), index))
                        << "seed " << seed << " page " << index;
            }
    }
}

TEST(PageTree, WalksGoOnAfterFailuresAndAfterNodesWithoutKids) {
    // Kids without `Type` under a root that counts them (every walk fails), and `Pages` nodes
    // that claim a page but have no `Kids` between the pages: turned in order, each page goes on
    // from the last walk instead of walking again from the root.
    for (const bool untyped : {true, false}) {
        constexpr int kPages = 3000;
        std::string kids;
        PdfWriter w = treeWriter("");
        int next = 3;
        for (int i = 0; i < kPages; ++i) {
            if (!untyped) {
                w.Set(next, "<< /Type /Pages /Count 1 >>");
                kids += std::to_string(next++) + " 0 R ";
            }
            w.Set(next, untyped ? "<< /Parent 2 0 R >>" : page(2));
            kids += std::to_string(next++) + " 0 R ";
        }
        w.Set(2, "<< /Type /Pages /Count " + std::to_string(kPages) + " /Kids [" + kids + "] >>");
        auto document = load(w);
        TPDFPageTree& tree = document->PageTree();
        for (int i = 1; i <= kPages; ++i) {
            const WalkResult got{objNumOf(tree.LocatePage(i)), objNumOf(tree.CurrentParent()),
                                 tree.LocatedObjNum()};
            ASSERT_EQ(got, referenceWalk(tree.RootNode(), i)) << untyped << " page " << i;
        }
    }
}

TEST(PageTree, TurningFiftyThousandPagesInOrderWalksOnce) {
    constexpr int kPages = 50000;
    std::string kids;
    PdfWriter w = treeWriter("");
    for (int i = 0; i < kPages; ++i) {
        kids += std::to_string(3 + i) + " 0 R ";
        w.Set(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 20] >>");
    }
    w.Set(2, "<< /Type /Pages /Count " + std::to_string(kPages) + " /Kids [" + kids + "] >>");
    auto document = load(w);
    // One walk per page from the root would take minutes here.
    for (int i = 1; i <= kPages; ++i)
        ASSERT_EQ(objNumOf(document->PageTree().LocatePage(i)), 2 + i);
}

// ---- hostile trees ------------------------------------------------------------------------

TEST(PageTree, KidsCyclesEndTheWalkButChainsOfAnyDepthAreWalked) {
    // Node 3 lists the root again; node 4 lists itself.
    EXPECT_EQ(locateAll("<< /Type /Pages /Count 3 /Kids [3 0 R] >>",
                        {"<< /Type /Pages /Parent 2 0 R /Count 3 /Kids [2 0 R 4 0 R] >>",
                         "<< /Type /Pages /Parent 3 0 R /Count 3 /Kids [4 0 R] >>"}),
              std::vector<int>(5, -1));

    // Nodes 3 .. 3 + depth - 1, each the only kid of the one before; the page last.
    auto chain = [](int depth) {
        std::vector<std::string> bodies;
        for (int i = 0; i < depth; ++i)
            bodies.push_back("<< /Type /Pages /Parent " + std::to_string(2 + i) +
                             " 0 R /Count 1 /Kids [" + std::to_string(4 + i) + " 0 R]" +
                             (i == 0 ? " /MediaBox [0 0 500 600]" : "") + " >>");
        bodies.push_back(page(2 + depth));
        return load(kOneKid, bodies);
    };
    for (const int depth : {1, 300, 100000}) {
        const auto doc = chain(depth);
        EXPECT_EQ(objNumOf(doc->PageTree().CurrentPage()), 3 + depth) << depth;
        EXPECT_EQ(doc->PageTree().PageWidth(), 500) << "inherited from far up";
    }
}

// ---- sizes --------------------------------------------------------------------------------

TEST(PageTree, MediaBoxSidesAreInheritedOrDefaultedAndAreAbsoluteDifferences) {
    const struct {
        const char* rootBox;
        std::string page;
        double width, height;
        bool written; // the page had no box and gets [0 0 width height]
    } rows[] = {
        {"/MediaBox [0 0 300 400]", page(2), 300, 400, false}, // inherited, not written
        {"", page(2, "/MediaBox [612 792 0 0]"), 612, 792, false},
        {"", page(2, "/MediaBox 6 0 R /CropBox [0 0 10 10] /Rotate 90"), 100.5, 200.25, false},
        {"", page(2, "/MediaBox [/a 5 250]"), 250, 5, false}, // non-numbers count as zero
        {"", page(2), 612, 792, true},
        // Without `Parent` the root's box is not inherited but serves as the default.
        {"/MediaBox [0 0 200 -100]", "<< /Type /Page >>", 200, 100, true},
        {"", "<< /Type /Page /Parent 4 0 R >>", 612, 792, true}, // a `Parent` loop ends
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        auto document =
            load("<< /Type /Pages /Count 1 " + std::string(row.rootBox) + " /Kids [3 0 R] >>",
                 {row.page, "<< /Type /Pages /Parent 5 0 R >>", "<< /Type /Pages /Parent 4 0 R >>",
                  "[10 20 110.5 220.25]"});
        TPDFPageTree& tree = document->PageTree();
        EXPECT_DOUBLE_EQ(tree.PageWidth(), row.width);
        EXPECT_DOUBLE_EQ(tree.PageHeight(), row.height);
        const TPDFArray* box = AsArray(tree.CurrentPage()->Get("MediaBox"));
        if (!row.written) {
            if (row.page.find("MediaBox") == std::string::npos) {
                EXPECT_EQ(box, nullptr);
            }
            continue;
        }
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(box->Count(), 4);
        const double expected[] = {0, 0, row.width, row.height};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(AsNumber(box->Item(i)), expected[i]) << i;
    }
}

// ---- content streams ----------------------------------------------------------------------

TEST(PageTree, ReadingContentWritesNothingAndEndsInAnEmptyMarkedPlace) {
    PdfWriter w = treeWriter(kOneKid, {page(2, "/Contents 4 0 R")});
    w.SetStream(4, "/Filter /FlateDecode", tolvane_test::Deflate("BT (Hi) Tj ET"));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    // Selecting and measuring a page reads none of its content.
    EXPECT_EQ(tree.PageWidth(), 612);
    EXPECT_FALSE(document->FindIndirect(4, 0)->Loaded);
    const std::size_t slots = document->IndirectObjects().size();
    ASSERT_TRUE(tree.PageReady());
    ASSERT_EQ(tree.ContentStreams().size(), 2u);
    EXPECT_EQ(tree.StreamCursor(), 2);
    EXPECT_EQ(tree.ContentData(), "") << "the marked place reads empty";
    tree.SetStreamCursor(1);
    EXPECT_EQ(tree.ContentData(), "BT (Hi) Tj ET");
    EXPECT_NE(AsRef(tree.CurrentPage()->Get("Contents", false)), nullptr) << "not rewritten";
    EXPECT_EQ(document->IndirectObjects().size(), slots) << "no object made";
}

TEST(PageTree, NormalisingMakesAnArrayWithAMarkedStreamAfterItOnce) {
    PdfWriter w = treeWriter(kOneKid, {page(2, "/Contents 4 0 R")});
    w.SetStream(4, "/Filter /FlateDecode", tolvane_test::Deflate("BT (Hi) Tj ET"));
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    tree.NormaliseContents();
    const TPDFArray* contents = AsArray(tree.CurrentPage()->Get("Contents", false));
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->Count(), 2);
    ASSERT_TRUE(AsRef(contents->Item(0)) && AsRef(contents->Item(1)));
    EXPECT_EQ(AsRef(contents->Item(0))->RefObjNum(), 4);
    const TPDFStream* marked = AsStream(AsRef(contents->Item(1))->Resolve());
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(AsName(marked->Dictionary()->Get("LC"))->Value(), "ZLQR");
    ASSERT_EQ(tree.ContentStreams().size(), 2u);
    EXPECT_EQ(tree.ContentStreams()[1], marked);
    EXPECT_EQ(tree.StreamCursor(), 2);
    // Selected again, the page finds its own marker last: reading and normalising add nothing.
    tree.SelectPage(1);
    EXPECT_EQ(tree.ContentStreams().size(), 2u);
    EXPECT_EQ(tree.ContentStreams()[1], marked);
    tree.NormaliseContents();
    EXPECT_EQ(AsArray(tree.CurrentPage()->Get("Contents", false))->Count(), 2);
}

TEST(PageTree, BrokenContentReferencesReadEmptyAndBecomeEmptyStreamsWhenNormalised) {
    PdfWriter w =
        treeWriter(kOneKid, {page(2, "/Contents [4 0 R 99 0 R 5 0 R 7]"), "", "(not a stream)"});
    w.SetStream(4, "", "q");
    auto document = load(w);
    TPDFPageTree& tree = document->PageTree();
    for (const bool normalised : {false, true}) {
        if (normalised)
            tree.NormaliseContents();
        ASSERT_EQ(tree.ContentStreams().size(), 5u) << "four elements and the marker";
        for (int i = 0; i < 5; ++i) {
            tree.SetStreamCursor(i + 1);
            EXPECT_EQ(tree.ContentData(), i == 0 ? "q" : "") << i;
        }
    }
    const TPDFArray* contents = AsArray(tree.CurrentPage()->Get("Contents", false));
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->Count(), 5);
    for (int i = 0; i < contents->Count(); ++i) {
        const TPDFIndRef* ref = AsRef(contents->Item(i));
        ASSERT_NE(ref, nullptr) << i;
        EXPECT_EQ(AsStream(ref->Resolve()), tree.ContentStreams()[std::size_t(i)]) << i;
    }
    EXPECT_NE(AsRef(contents->Item(1))->RefObjNum(), 99);
}

TEST(PageTree, AMarkerIsAddedUnlessTheLastStreamIsASmallMarkedOne) {
    const struct {
        std::string contents;
        std::size_t markedData; // of the marked stream 4
        std::size_t streams;
    } rows[] = {
        {"", 0, 1}, // missing contents
        {"/Contents [4 0 R]", kMaxMarkedStreamData, 1},
        {"/Contents [4 0 R]", kMaxMarkedStreamData + 1, 2},
        {"/Contents [5 0 R]", 0, 2}, // marked with another name
        {"/Contents 12", 0, 0},      // contents of another kind: no streams, no ready page
    };
    for (const auto& row : rows) {
        for (const bool normalised : {false, true}) {
            SCOPED_TRACE(row.contents + (normalised ? " normalised" : ""));
            PdfWriter w = treeWriter(kOneKid, {page(2, row.contents)});
            w.SetStream(4, "/LC /ZLQR", std::string(row.markedData, ' '));
            w.SetStream(5, "/LC /ZLQS", "");
            auto document = load(w);
            TPDFPageTree& tree = document->PageTree();
            ASSERT_NE(tree.CurrentPage(), nullptr);
            if (normalised)
                tree.NormaliseContents();
            EXPECT_EQ(tree.ContentStreams().size(), row.streams);
            EXPECT_EQ(tree.PageReady(), row.streams > 0);
            if (row.streams == 0) {
                EXPECT_EQ(tree.ContentData(), "");
            }
        }
    }

    // A shared contents array is used itself: one marker, added by the first normalisation.
    PdfWriter w = treeWriter("<< /Type /Pages /Count 2 /Kids [3 0 R 4 0 R] >>",
                             {page(2, "/Contents 5 0 R"), page(2, "/Contents 5 0 R"), "[6 0 R]"});
    w.SetStream(6, "", "BT ET");
    auto document = load(w);
    document->PageTree().NormaliseContents();
    document->PageTree().SelectPage(2);
    document->PageTree().NormaliseContents();
    ASSERT_NE(AsArray(document->ResolveRef(5, 0)), nullptr);
    EXPECT_EQ(AsArray(document->ResolveRef(5, 0))->Count(), 2);
    EXPECT_TRUE(AsRef(document->PageTree().CurrentPage()->Get("Contents", false)));
}

// ---- resources ----------------------------------------------------------------------------

TEST(PageTree, ResourcesComeFromThePageOrItsImmediateParentElseAnEmptyOneIsPutIn) {
    auto document =
        load("<< /Type /Pages /Count 4 /Resources << /Font 9 >> /Kids [3 0 R 4 0 R 8 0 R 9 0 R] >>",
             {"<< /Type /Pages /Parent 2 0 R /Count 1 /Kids [5 0 R] >>",
              "<< /Type /Pages /Parent 2 0 R /Count 1 /Resources 7 0 R /Kids [6 0 R] >>", page(3),
              page(4), "<< /ProcSet [/PDF] >>", page(2, "/Resources 10 0 R"),
              page(2, "/Resources [1 2]"), "<< /XObject << >> >>"});
    TPDFPageTree& tree = document->PageTree();
    tree.SelectPage(2);
    EXPECT_EQ(tree.PageResources(), document->ResolveRef(7, 0));
    tree.SelectPage(3);
    EXPECT_EQ(tree.PageResources(), document->ResolveRef(10, 0));

    // The grandparent's resources are not found, and an array is no dictionary: the page gets
    // an empty dictionary of its own.
    for (const int index : {1, 4}) {
        tree.SelectPage(index);
        TPDFDictionary* fresh = tree.PageResources();
        ASSERT_NE(fresh, nullptr) << index;
        EXPECT_EQ(fresh->Count(), 0) << index;
        EXPECT_EQ(AsDictionary(tree.CurrentPage()->Get("Resources")), fresh) << index;
        EXPECT_EQ(tree.PageResources(), fresh) << index;
    }
}
