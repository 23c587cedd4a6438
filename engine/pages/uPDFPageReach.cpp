#include "pages/uPDFPageReach.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "file/uPDFObjectHolder.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"

namespace korvel {

namespace {

// Deeper trees are legal but unheard of; the bound is only a shortcut, so giving up is safe.
constexpr int kMaxReachDepth = 512;
// Enough for any real document (a node per page and per intermediate node), small enough that a
// hostile tree costs a bounded walk.
constexpr std::int64_t kMaxReachNodes = 20'000'000;
// Kids looked at between two releases of the page objects the walk read.
constexpr std::int64_t kKidsPerRelease = 1024;

class TReach {
public:
    explicit TReach(TPDFObjectHolder* document) : FDocument(document) {
        if (FDocument) {
            FWalk.emplace(*FDocument);
            FScope.emplace(*FDocument);
        }
    }
    ~TReach() {
        if (FDocument) {
            FScope.reset();
            FDocument->ReleasePageObjects();
        }
    }
    TReach(const TReach&) = delete;
    TReach& operator=(const TReach&) = delete;

    // The nodes and `Kids` the walk holds on to are kept out of the page objects it lets go,
    // so that the memo's keys stay what they were.
    TPDFArray* Kids(TPDFDictionary* node) { return HeldKids(node, FDocument); }

    // The highest page number found below a `Kids` array, counted from 0 before it: a walk
    // through the array adds 1 per leaf and the `Count` of every node it passes over (never
    // less than 0 towards the bound), and a node it enters is never left, so whatever is found
    // inside lies at most min(Count, reach of the node's own Kids) past the counter there.
    std::int64_t Reach(TPDFArray* kids, int depth) {
        if (Failed || depth > kMaxReachDepth)
            return fail();
        const auto known = FMemo.find(kids);
        if (known != FMemo.end()) {
            if (known->second < 0)
                return fail(); // the array is on the chain being walked: a cycle
            return known->second;
        }
        FMemo[kids] = -1;
        std::int64_t passed = 0;
        std::int64_t best = 0;
        for (int i = 0; i < kids->Count() && !Failed; ++i) {
            if (++FNodes > kMaxReachNodes)
                return fail();
            if (FDocument && FNodes % kKidsPerRelease == 0) {
                // The pages looked at so far go: the walk's memory does not grow with them.
                FScope.reset();
                FDocument->ReleasePageObjects();
                FScope.emplace(*FDocument);
            }
            const TPDFIndRef* ref = AsRef(kids->Item(i));
            if (!ref)
                continue; // direct dictionaries are invisible to the walk
            TPDFDictionary* node = AsDictionary(ref->Resolve());
            if (!node)
                continue;
            const std::string type = node->GetTypeName();
            if (type == "Page") {
                best = std::max(best, passed + 1);
                ++passed;
            } else if (type == "Pages") {
                const TPDFNumeric* countValue = Cast<TPDFNumeric>(node->Get("Count", true));
                const std::int64_t count =
                    std::max<std::int64_t>(countValue ? countValue->IntValue() : 0, 0);
                node = AsDictionary(HeldValue(ref, FDocument));
                if (TPDFArray* sub = node ? Kids(node) : nullptr)
                    best = std::max(best, passed + std::min(count, Reach(sub, depth + 1)));
                passed += count;
            }
        }
        if (Failed)
            return -1;
        FMemo[kids] = best;
        return best;
    }

    bool Failed = false;

private:
    std::int64_t fail() {
        Failed = true;
        return -1;
    }
    std::unordered_map<const TPDFArray*, std::int64_t> FMemo; // -1 while being walked
    std::int64_t FNodes = 0;
    TPDFObjectHolder* FDocument;
    std::optional<TPDFObjectHolder::TWalkScope> FWalk;
    std::optional<TPDFObjectHolder::TPageScope> FScope;
};

} // namespace

std::int64_t LocatablePageBound(TPDFDictionary* root, TPDFObjectHolder* document) {
    if (!root)
        return 0;
    TReach reach(document);
    TPDFArray* kids = reach.Kids(root);
    if (!kids)
        return 0;
    const std::int64_t bound = reach.Reach(kids, 0);
    return reach.Failed ? -1 : bound;
}

} // namespace korvel
