#pragma once
// How far the page tree's `Kids` can reach: an upper bound on the page numbers a walk for a page
// (TPDFPageTree::LocatePage) can ever find. A root `Count` may claim two billion pages over a
// tree of one leaf; pages past this bound cannot be located, so a pass over every page can stop
// early instead of producing empty pages for hours.

#include <cstdint>

namespace korvel {

class TPDFDictionary;
class TPDFObjectHolder;

// The highest page number LocatePage could find under `root`, or -1 when the tree cannot be
// bounded cheaply (a cycle, a tree deeper than kMaxReachDepth, more than kMaxReachNodes nodes):
// the caller then assumes every page up to `Count` may exist. Walks the whole tree once; shared
// subtrees are counted once. With the document the root was read from, the pages the walk reads
// are let go as it goes (TPDFObjectHolder::ReleasePageObjects), so that its memory does not grow
// with the tree: page objects read before do not outlive it.
std::int64_t LocatablePageBound(TPDFDictionary* root, TPDFObjectHolder* document = nullptr);

} // namespace korvel
