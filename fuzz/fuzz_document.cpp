// Fuzzes loading a whole document and walking its pages: page count, the tree's bound, selection,
// sizes, resources, every content stream's decoded data, the page text in content order (plain and
// as records, in both text encodings), the positioned text of the page interpreter (options 3 and
// 4), the security answers and the empty password; fuzz_document_repair reads leniently. Nothing is
// caught: anything that escapes is a finding.
#include <algorithm>
#include <string>

#include "FuzzTargets.h"
#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "pages/uPDFPageTree.h"

namespace {

int walkDocument(const std::uint8_t* data, std::size_t size, bool lenient) {
    korvel::TKorvel korvel;
    korvel.SetLenientReading(lenient);
    if (!korvel.LoadFromBytes(std::string(reinterpret_cast<const char*>(data), size)))
        return 0;
    korvel.Encrypted();
    korvel.LocatablePageBound();
    const int pages = std::min(korvel.PageCount(), 20);
    korvel::TPDFPageTree& tree = korvel.SelectedDocumentObject().PageTree();
    for (int page = 1; page <= pages; ++page) {
        korvel.SelectPage(page);
        korvel.PageWidth();
        korvel.PageHeight();
        tree.PageResources();
        const int streams = static_cast<int>(tree.ContentStreams().size());
        for (int cursor = 1; cursor <= streams; ++cursor) {
            tree.SetStreamCursor(cursor);
            tree.ContentData();
        }
        korvel.SetTextEncoding(page % 2 ? korvel::TTextEncoding::Cp1252
                                        : korvel::TTextEncoding::Utf8);
        korvel.GetPageText(0);
        korvel.GetPageText(2);
        korvel.GetPageText(page % 2 ? 3 : 4);
    }
    for (int item = 0; item <= 10; ++item)
        korvel.SecurityInfo(item);
    korvel.SetPassword("");
    // A password may reload the document: its page tree is then a new one.
    korvel.SelectPage(1);
    korvel.PageWidth();
    return 0;
}

} // namespace

int tolvane_fuzz::FuzzDocument(const std::uint8_t* data, std::size_t size) {
    return walkDocument(data, size, false);
}

// The same walk over the lenient reading: reconstruction and mended stream lengths.
int tolvane_fuzz::FuzzDocumentRepair(const std::uint8_t* data, std::size_t size) {
    return walkDocument(data, size, true);
}

#ifdef TOLVANE_FUZZ_DOCUMENT_REPAIR
TOLVANE_FUZZ_ENTRY(FuzzDocumentRepair)
#else
TOLVANE_FUZZ_ENTRY(FuzzDocument)
#endif
