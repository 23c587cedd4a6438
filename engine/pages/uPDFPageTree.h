#pragma once
// The page list of a document: counting pages from the root's `Count`, locating a page by
// walking `Kids` (skipping whole subtrees by their `Count`), selecting a page with its content
// streams, and the selected page's size, resources and decoded content. Making text of a page
// is the text layer's (TPDFPageText).
//
// Hostile trees: the walk is a loop, not a recursion (a descent into a `Pages` node ends the
// search there, so nothing needs to be returned to); it goes to any depth and ends at a `Kids`
// array it has already descended into. `Parent` chains stop at a repeated node.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvel {

class TPDFArray;
class TPDFDictionary;
class TPDFObjectHolder;
class TPDFIndRef;
class TPDFObject;
class TPDFStream;
class TPDFStructure;

// A value a walk over the tree holds on to past the page it is on (a `Pages` node, its `Kids`),
// reached through a reference: with the document the tree was read from, kept out of the page
// objects a release lets go (TPDFObjectHolder::KeepObject); without one, simply resolved.
TPDFObject* HeldValue(const TPDFIndRef* ref, TPDFObjectHolder* document);
// The `Kids` array of a node, held.
TPDFArray* HeldKids(TPDFDictionary* node, TPDFObjectHolder* document);

// Raw data up to this size keeps a marked last content stream usable as the drawing target.
constexpr std::size_t kMaxMarkedStreamData = 500000;

class TPDFPageTree {
public:
    // root: the root `Pages` dictionary or nullptr. With a root, page 1 is selected. With the
    // document the root was read from, the tree keeps the nodes its walk holds on to out of the
    // document's page objects (TPDFObjectHolder::TPageScope) and finds a page again once they were
    // let go.
    explicit TPDFPageTree(TPDFDictionary* root, TPDFObjectHolder* document = nullptr);
    ~TPDFPageTree();

    // The root's `Count` (0 when missing, not a number or negative); the tree is not walked.
    int PageCount();
    // The page dictionary of a 1-based page number, or nullptr. Sets CurrentParent (the node
    // whose `Kids` held the page) and the located object (the last reference met; the page's own
    // reference when found).
    TPDFDictionary* LocatePage(int index);
    // Out-of-range numbers re-select the current page. A page that cannot be located leaves no
    // current page; CurrentIndex then keeps the last good number.
    void SelectPage(int index);
    // Size of the selected page (media box, unrotated); 0 when no page is selected.
    double PageWidth();
    double PageHeight();
    // The resource dictionary of the selected page (the page's own or its immediate parent's,
    // else a new empty one put into the page); nullptr when no page is selected.
    TPDFDictionary* PageResources();
    // Decoded data of the content stream at StreamCursor; empty when there is none.
    std::string ContentData();
    void ReportLocatedPage();
    // Gathers the selected page's content streams now if that is still pending.
    void PrepareContents();
    // Makes the selected page's `Contents` an array of indirect streams ending in a marked
    // stream (the drawing target of editing): a missing or single entry becomes an array,
    // broken elements become empty streams of their own, and a marked stream is added unless
    // the last one is a small marked stream. Reading never needs this: the content streams
    // read the same without it, and a pass over every page then writes nothing.
    void NormaliseContents();

    TPDFDictionary* RootNode() const { return FRootNode; }
    TPDFStructure* Store() const { return FStore; }
    int CurrentIndex() const { return FCurrentIndex; }
    TPDFDictionary* CurrentPage() const { return FCurrentPage; }
    TPDFDictionary* CurrentParent() const { return FCurrentParent; }
    // The selected page's content streams are gathered (and its `Contents` normalised) when
    // first asked for, not at selection: a pass that only measures pages never reads them.
    const std::vector<TPDFStream*>& ContentStreams() {
        PrepareContents();
        return FContentStreams;
    }
    int StreamCursor() {
        PrepareContents();
        return FStreamCursor;
    }
    void SetStreamCursor(int cursor) {
        PrepareContents();
        FStreamCursor = cursor;
    }
    bool PageReady() {
        PrepareContents();
        return FPageReady;
    }
    std::int32_t LocatedObjNum() const { return FLocatedObjNum; }
    std::int32_t LocatedGenNum() const { return FLocatedGenNum; }

    double DefaultWidth = 612;
    double DefaultHeight = 792;
    std::function<void(std::int32_t objNum, std::int32_t genNum)> OnLocatedPage;

private:
    // What a walk for a page number ends with, kept so that the same number is not walked again.
    struct TCachedPage {
        TPDFDictionary* Page = nullptr;
        TPDFDictionary* Parent = nullptr;
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
        std::uint64_t Generation = 0; // the document's page generation when Page was read
    };

    // A `Pages` node the walk meant to enter but could not (its `Kids` are no array): a walk
    // for a page beyond `Threshold` (the counter plus the node's `Count`) counts the node
    // instead and goes its own way from there. PrefixMin is the lowest threshold up to this
    // entry of its array, so the first entry a later page passes is found by binary search.
    struct TFailedEntry {
        int Kid = 0;
        std::int64_t Threshold = 0;
        std::int64_t PrefixMin = 0;
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
    };

    // One `Kids` array of a walk: where it stands in it, and the node it belongs to with the
    // counter before that node and the node's `Count` (the root's frame is never left).
    struct TWalkFrame {
        TPDFArray* Kids = nullptr;
        int Next = 0;
        TPDFDictionary* Node = nullptr;
        std::int64_t Before = 0;
        std::int64_t Count = 0;
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
        std::vector<TFailedEntry> Failed; // in walk order
    };

    double MediaBoxSide(int low, int high);
    std::uint64_t Generation() const;
    void GatherContents(TPDFDictionary* page);
    TPDFStream* EmptyStream();
    // A new value registered as an indirect object; the reference to it, or the value itself
    // when the store has no way to register objects.
    TPDFObject* NewIndirect(TPDFObject* value);
    TPDFStream* NewMarkedStream();

    TPDFDictionary* FRootNode = nullptr;
    TPDFStructure* FStore = nullptr;
    TPDFObjectHolder* FDocument = nullptr;
    // Sparse: a `Count` of two billion costs nothing until pages are found. Entries beyond the
    // count are never served.
    std::unordered_map<int, TCachedPage> FPageCache;
    // Where the last walk stopped, found or not: a walk for a later page goes on from there.
    std::vector<TWalkFrame> FWalk;
    std::int64_t FWalkIndex = 0;  // the page that walk was for
    std::int64_t FWalkPassed = 0; // its counter at the end (the page itself counted when found)
    bool FWalkAscending = true;
    std::int32_t FWalkLocatedObjNum = 0;
    std::int32_t FWalkLocatedGenNum = 0;
    int FCurrentIndex = 0;
    TPDFDictionary* FCurrentPage = nullptr;
    TPDFDictionary* FCurrentParent = nullptr;
    std::int32_t FLocatedObjNum = 0;
    std::int32_t FLocatedGenNum = 0;
    std::vector<TPDFStream*> FContentStreams;
    TPDFStream* FEmptyStream = nullptr; // stands for broken elements and the marked stream
    int FStreamCursor = 0;
    bool FPageReady = false;
    bool FContentsPending = false; // the selected page's contents are not gathered yet
    bool FWidthValid = false;
    bool FHeightValid = false;
    double FWidthCache = 0;
    double FHeightCache = 0;
};

} // namespace korvel
