#pragma once
// The page list of a document: counting pages from the root's `Count`, locating a page by
// walking `Kids` (skipping whole subtrees by their `Count`), selecting a page with its content
// streams, and the selected page's size, resources and decoded content.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvel {

class TPDFDictionary;
class TPDFStream;
class TPDFStructure;

class TPDFPageTree {
public:
    // root: the root `Pages` dictionary or nullptr. With a root, page 1 is selected.
    explicit TPDFPageTree(TPDFDictionary* root);

    int PageCount();
    TPDFDictionary* LocatePage(int index);
    void SelectPage(int index);
    // Size of the selected page (media box, unrotated); 0 when no page is selected.
    double PageWidth();
    double PageHeight();
    TPDFDictionary* PageResources();
    // Decoded data of the content stream at StreamCursor; empty when there is none.
    std::string ContentData();
    void ReportLocatedPage();

    TPDFDictionary* RootNode() const { return FRootNode; }
    TPDFStructure* Store() const { return FStore; }
    int CurrentIndex() const { return FCurrentIndex; }
    TPDFDictionary* CurrentPage() const { return FCurrentPage; }
    TPDFDictionary* CurrentParent() const { return FCurrentParent; }
    const std::vector<TPDFStream*>& ContentStreams() const { return FContentStreams; }
    int StreamCursor() const { return FStreamCursor; }
    void SetStreamCursor(int cursor) { FStreamCursor = cursor; }
    bool PageReady() const { return FPageReady; }
    std::int32_t LocatedObjNum() const { return FLocatedObjNum; }
    std::int32_t LocatedGenNum() const { return FLocatedGenNum; }

    double DefaultWidth = 612;
    double DefaultHeight = 792;
    std::function<void(std::int32_t objNum, std::int32_t genNum)> OnLocatedPage;

private:
    double MediaBoxSide(int low, int high);

    TPDFDictionary* FRootNode = nullptr;
    TPDFStructure* FStore = nullptr;
    // Sparse: a `Count` of two billion costs nothing until pages are found.
    std::unordered_map<int, TPDFDictionary*> FPageCache;
    int FCurrentIndex = 0;
    TPDFDictionary* FCurrentPage = nullptr;
    TPDFDictionary* FCurrentParent = nullptr;
    std::int32_t FLocatedObjNum = 0;
    std::int32_t FLocatedGenNum = 0;
    std::vector<TPDFStream*> FContentStreams;
    int FStreamCursor = 0;
    bool FPageReady = false;
    bool FWidthValid = false;
    bool FHeightValid = false;
    double FWidthCache = 0;
    double FHeightCache = 0;
};

} // namespace korvel
