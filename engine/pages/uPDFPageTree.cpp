#include "pages/uPDFPageTree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_set>

#include "file/uPDFFlate.h"
#include "file/uPDFObjectHolder.h"
#include "file/uPDFStructure.h"

namespace korvel {

namespace {

// The number of an array element; a missing or non-numeric element counts as 0.
double numberAt(const TPDFArray* array, int index) {
    return AsNumber(array ? array->Item(index) : nullptr, 0);
}

TPDFObject* resolved(TPDFObject* value) {
    if (const TPDFIndRef* ref = AsRef(value))
        return ref->Resolve();
    return value;
}

} // namespace

TPDFPageTree::TPDFPageTree(TPDFDictionary* root, TPDFObjectHolder* document)
    : FRootNode(root), FDocument(document) {
    if (!FRootNode)
        return;
    FStore = FRootNode->Owner;
    SelectPage(1);
}

TPDFPageTree::~TPDFPageTree() = default;

std::uint64_t TPDFPageTree::Generation() const {
    return FDocument ? FDocument->PageGeneration() : 0;
}

TPDFObject* HeldValue(const TPDFIndRef* ref, TPDFObjectHolder* document) {
    return document ? document->KeepObject(ref->RefObjNum(), ref->RefGenNum()) : ref->Resolve();
}

TPDFArray* HeldKids(TPDFDictionary* node, TPDFObjectHolder* document) {
    TPDFObject* kids = node->Get("Kids", false);
    if (const TPDFIndRef* ref = AsRef(kids))
        return AsArray(HeldValue(ref, document));
    return AsArray(kids);
}

int TPDFPageTree::PageCount() {
    if (!FRootNode)
        return 0;
    return std::max(FRootNode->GetInteger("Count", 0), 0);
}

TPDFDictionary* TPDFPageTree::LocatePage(int index) {
    if (index < 1 || index > PageCount())
        return nullptr;
    if (const auto it = FPageCache.find(index); it != FPageCache.end()) {
        if (it->second.Generation != Generation()) {
            // The page was let go with the objects of another page: read it again.
            it->second.Page =
                AsDictionary(FDocument->ResolveRef(it->second.ObjNum, it->second.GenNum));
            it->second.Generation = Generation();
        }
        FCurrentParent = it->second.Parent;
        FLocatedObjNum = it->second.ObjNum;
        FLocatedGenNum = it->second.GenNum;
        return it->second.Page;
    }

    // The pages the walk reads to count them are not read for themselves (see TWalkScope).
    std::optional<TPDFObjectHolder::TWalkScope> walkScope;
    if (FDocument)
        walkScope.emplace(*FDocument);
    // A descent never comes back up (whatever it finds ends the search), so the walk is one
    // loop over the innermost `Kids` array; the frames only remember the way down.
    std::vector<TWalkFrame> frames;
    std::int64_t passed = 0;
    // While no node has subtracted from the counter, a page passed at position p is exactly what
    // a walk for p would find (that walk takes the same path up to it), so it is cached.
    bool countsAscending = true;
    if (!FWalk.empty() && index > FWalkIndex) {
        // Throughout a walk for page i the counter stays below i, so a walk for a later page j
        // takes every decision the last walk took (found or not) until the first node that j
        // passes over by its `Count` where i entered it or failed to: a node on the way down, or
        // one whose `Kids` were no array. From there on it goes its own way. Going on from that
        // point turns the pages in order in one walk, not one walk per page.
        frames = std::move(FWalk);
        FWalk.clear();
        passed = FWalkPassed;
        countsAscending = FWalkAscending;
        std::int32_t objNum = FWalkLocatedObjNum, genNum = FWalkLocatedGenNum;
        for (std::size_t depth = 0; depth < frames.size(); ++depth) {
            TWalkFrame& frame = frames[depth];
            // The entries of this array all come before the node of the next frame.
            const auto failed = std::partition_point(
                frame.Failed.begin(), frame.Failed.end(),
                [index](const TFailedEntry& e) { return e.PrefixMin >= index; });
            if (failed != frame.Failed.end()) {
                passed = failed->Threshold;
                objNum = failed->ObjNum;
                genNum = failed->GenNum;
                frame.Next = failed->Kid + 1;
                frame.Failed.erase(failed, frame.Failed.end());
                frames.resize(depth + 1);
                break;
            }
            if (depth + 1 < frames.size()) {
                const TWalkFrame& node = frames[depth + 1];
                if (index > node.Before + node.Count) {
                    passed = node.Before + node.Count;
                    objNum = node.ObjNum;
                    genNum = node.GenNum;
                    if (node.Count < 0)
                        countsAscending = false;
                    frames.resize(depth + 1);
                    break;
                }
            }
        }
        FLocatedObjNum = objNum;
        FLocatedGenNum = genNum;
    }
    if (frames.empty()) {
        passed = 0;
        countsAscending = true;
        TPDFArray* rootKids = HeldKids(FRootNode, FDocument);
        if (!rootKids) {
            FCurrentParent = FRootNode;
            return nullptr;
        }
        frames.push_back(TWalkFrame{rootKids, 0, FRootNode, 0, 0, 0, 0, {}});
    }

    // The `Kids` arrays on the way down, for the cycle test in constant time at any depth.
    std::unordered_set<const TPDFArray*> onChain;
    onChain.reserve(frames.size());
    for (const TWalkFrame& f : frames)
        onChain.insert(f.Kids);

    TPDFDictionary* result = nullptr;
    bool cycle = false;
    while (!result) {
        TWalkFrame& frame = frames.back();
        if (frame.Next >= frame.Kids->Count())
            break; // off the end of an array: not found
        const TPDFIndRef* ref = AsRef(frame.Kids->Item(frame.Next++));
        if (!ref)
            continue; // direct dictionaries in `Kids` are invisible
        FLocatedObjNum = ref->RefObjNum();
        FLocatedGenNum = ref->RefGenNum();
        TPDFDictionary* node = AsDictionary(ref->Resolve());
        if (!node)
            continue;
        const std::string type = node->GetTypeName();
        if (type == "Pages") {
            const TPDFNumeric* countValue = Cast<TPDFNumeric>(node->Get("Count", true));
            const std::int64_t count = countValue ? countValue->IntValue() : 0;
            if (index > passed + count) {
                passed += count;
                if (count < 0)
                    countsAscending = false;
                continue;
            }
            // The walk holds the node and its `Kids` beyond this page.
            node = AsDictionary(HeldValue(ref, FDocument));
            TPDFArray* subKids = node ? HeldKids(node, FDocument) : nullptr;
            if (!subKids) {
                const std::int64_t threshold = passed + count;
                const std::int64_t prefixMin =
                    frame.Failed.empty() ? threshold
                                         : std::min(frame.Failed.back().PrefixMin, threshold);
                frame.Failed.push_back(TFailedEntry{frame.Next - 1, threshold, prefixMin,
                                                    ref->RefObjNum(), ref->RefGenNum()});
                continue;
            }
            if (!onChain.insert(subKids).second) {
                cycle = true;
                break; // a cycle: the page is not found
            }
            frames.push_back(TWalkFrame{
                subKids, 0, node, passed, count, ref->RefObjNum(), ref->RefGenNum(), {}});
        } else if (type == "Page") {
            if (passed + 1 == index) {
                result = node;
                passed = index;
                break;
            }
            ++passed;
            if (countsAscending && passed >= 1 && passed <= std::numeric_limits<int>::max())
                FPageCache.try_emplace(static_cast<int>(passed),
                                       TCachedPage{node, frames.back().Node, ref->RefObjNum(),
                                                   ref->RefGenNum(), Generation()});
        }
    }
    FCurrentParent = frames.back().Node;
    if (result)
        FPageCache[index] =
            TCachedPage{result, FCurrentParent, FLocatedObjNum, FLocatedGenNum, Generation()};
    // A walk ended by a cycle leaves nothing to go on from (a later page might pass over the
    // node that closed it); any other end does.
    if (!cycle) {
        FWalk = std::move(frames);
        FWalkIndex = index;
        FWalkPassed = passed;
        FWalkAscending = countsAscending;
        FWalkLocatedObjNum = FLocatedObjNum;
        FWalkLocatedGenNum = FLocatedGenNum;
    }
    return result;
}

void TPDFPageTree::SelectPage(int index) {
    FWidthValid = false;
    FHeightValid = false;
    if (index < 1 || index > PageCount())
        index = FCurrentIndex;
    FPageReady = false;
    FContentsPending = false;
    FContentStreams.clear();          // they may belong to page objects let go since
    FCurrentPage = LocatePage(index); // served from the cache when the page was found before
    if (!FCurrentPage)
        return;
    FCurrentIndex = index;
    FContentsPending = true;
}

void TPDFPageTree::PrepareContents() {
    if (!FContentsPending)
        return;
    FContentsPending = false;
    if (FCurrentPage)
        GatherContents(FCurrentPage);
}

TPDFStream* TPDFPageTree::EmptyStream() {
    if (!FEmptyStream)
        FEmptyStream = FStore->CreateStream(std::string());
    return FEmptyStream;
}

void TPDFPageTree::GatherContents(TPDFDictionary* page) {
    if (!FStore)
        return;
    // The streams the page would have once normalised, without writing anything into the
    // document: broken elements and the marked stream read as one shared empty stream.
    TPDFObject* entry = page->Get("Contents", false);
    const TPDFArray* contents = nullptr;
    TPDFObject* single = nullptr;
    if (!entry) {
        // no content: only the marked stream
    } else if (TPDFIndRef* ref = AsRef(entry)) {
        contents = AsArray(ref->Resolve());
        if (!contents)
            single = ref;
    } else {
        contents = AsArray(entry);
        if (!contents)
            return; // no content streams at all
    }
    FContentStreams.clear();
    auto add = [&](TPDFObject* item) {
        TPDFStream* stream = AsStream(resolved(item));
        FContentStreams.push_back(stream ? stream : EmptyStream());
    };
    if (single)
        add(single);
    if (contents) {
        FContentStreams.reserve(static_cast<std::size_t>(contents->Count()) + 1);
        for (TPDFObject* item : contents->Items())
            add(item);
    }
    const TPDFStream* last = FContentStreams.empty() ? nullptr : FContentStreams.back();
    const TPDFName* mark = last ? Cast<TPDFName>(last->Dictionary()->Get("LC", false)) : nullptr;
    if (!mark || mark->Value() != "ZLQR" || last->RawData().size() > kMaxMarkedStreamData)
        FContentStreams.push_back(EmptyStream());
    FStreamCursor = static_cast<int>(FContentStreams.size());
    FPageReady = true;
}

TPDFObject* TPDFPageTree::NewIndirect(TPDFObject* value) {
    if (!FStore || !FStore->OnNewIndirect)
        return value;
    const auto [num, gen] = FStore->OnNewIndirect(value);
    return FStore->CreateRef(num, gen);
}

TPDFStream* TPDFPageTree::NewMarkedStream() {
    TPDFStream* stream = FStore->CreateStream(std::string());
    stream->Dictionary()->Put("LC", FStore->CreateName("ZLQR"));
    return stream;
}

void TPDFPageTree::NormaliseContents() {
    FContentsPending = false;
    if (!FCurrentPage || !FStore)
        return;
    TPDFDictionary* page = FCurrentPage;
    TPDFArray* contents = nullptr;
    TPDFObject* entry = page->Get("Contents", false);
    if (!entry) {
        contents = FStore->CreateArray();
        page->Put("Contents", contents);
    } else if (TPDFIndRef* ref = AsRef(entry)) {
        contents = AsArray(ref->Resolve());
        if (!contents) {
            // One stream (or a broken reference): made the only element of a new array.
            contents = FStore->CreateArray();
            contents->Add(FStore->CreateRef(ref->RefObjNum(), ref->RefGenNum()));
            page->Put("Contents", contents);
        }
    } else {
        contents = AsArray(entry);
        if (!contents)
            return; // no content streams at all
    }

    // The editing side draws into the last content stream when it is one of its own markers.
    const TPDFStream* last = AsStream(resolved(contents->Item(contents->Count() - 1)));
    const TPDFName* mark = last ? Cast<TPDFName>(last->Dictionary()->Get("LC", false)) : nullptr;
    if (!mark || mark->Value() != "ZLQR" || last->RawData().size() > kMaxMarkedStreamData)
        contents->Add(NewIndirect(NewMarkedStream()));

    FContentStreams.clear();
    FContentStreams.reserve(static_cast<std::size_t>(contents->Count()));
    for (int i = 0; i < contents->Count(); ++i) {
        TPDFStream* stream = AsStream(resolved(contents->Item(i)));
        if (!stream) {
            // Broken references and stray values become empty streams of their own.
            stream = FStore->CreateStream(std::string());
            contents->Replace(i, NewIndirect(stream));
        }
        FContentStreams.push_back(stream);
    }
    FStreamCursor = static_cast<int>(FContentStreams.size());
    FPageReady = true;
}

double TPDFPageTree::MediaBoxSide(int low, int high) {
    if (!FCurrentPage)
        return 0;
    std::unordered_set<const TPDFObject*> seen;
    for (TPDFDictionary* node = FCurrentPage; node && seen.insert(node).second;
         node = AsDictionary(node->Get("Parent", true))) {
        if (const TPDFArray* box = AsArray(node->Get("MediaBox", true)))
            return std::fabs(numberAt(box, high) - numberAt(box, low));
    }

    // No media box anywhere up the chain: the default size, written into the page.
    if (const TPDFArray* rootBox =
            FRootNode ? AsArray(FRootNode->Get("MediaBox", false)) : nullptr) {
        DefaultWidth = std::fabs(numberAt(rootBox, 2) - numberAt(rootBox, 0));
        DefaultHeight = std::fabs(numberAt(rootBox, 3) - numberAt(rootBox, 1));
    }
    // Made in the page's own store: it goes with the page.
    if (FStore)
        FCurrentPage->Put("MediaBox", FCurrentPage->Owner->CreateArray(
                                          std::vector<double>{0, 0, DefaultWidth, DefaultHeight}));
    return low == 0 ? DefaultWidth : DefaultHeight;
}

double TPDFPageTree::PageWidth() {
    if (!FWidthValid) {
        FWidthCache = MediaBoxSide(0, 2);
        FWidthValid = FCurrentPage != nullptr;
    }
    return FWidthCache;
}

double TPDFPageTree::PageHeight() {
    if (!FHeightValid) {
        FHeightCache = MediaBoxSide(1, 3);
        FHeightValid = FCurrentPage != nullptr;
    }
    return FHeightCache;
}

TPDFDictionary* TPDFPageTree::PageResources() {
    if (!FCurrentPage || !FStore)
        return nullptr;
    TPDFDictionary* page = FCurrentPage;
    TPDFObject* value = page->Get("Resources", false);
    if (!value) {
        // Only the immediate parent is asked; the walk tells which node that is.
        LocatePage(FCurrentIndex);
        if (FCurrentParent)
            value = FCurrentParent->Get("Resources", false);
    }
    // A fresh dictionary is made in the page's own store: it goes with the page.
    if (!value) {
        TPDFDictionary* fresh = page->Owner->CreateDictionary();
        page->Put("Resources", fresh);
        return fresh;
    }
    if (TPDFDictionary* resources = AsDictionary(resolved(value)))
        return resources;
    TPDFDictionary* fresh = page->Owner->CreateDictionary();
    page->Put("Resources", fresh);
    return fresh;
}

std::string TPDFPageTree::ContentData() {
    PrepareContents();
    if (FStreamCursor < 1 || FStreamCursor > static_cast<int>(FContentStreams.size()))
        return {};
    const TPDFStream* stream = FContentStreams[static_cast<std::size_t>(FStreamCursor - 1)];
    return stream ? stream->DecodedData() : std::string();
}

void TPDFPageTree::ReportLocatedPage() {
    if (OnLocatedPage)
        OnLocatedPage(FLocatedObjNum, FLocatedGenNum);
}

} // namespace korvel
