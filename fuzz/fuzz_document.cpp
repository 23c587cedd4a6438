// Fuzzes loading a whole document and walking its first or second page, or both: page count,
// the tree's bound, selection, sizes, resources, every content stream's decoded data, the page
// text of one road (an option 0 to 4, or the reading layout with its words) in one text
// encoding, the security answers and the empty password; fuzz_document_repair reads leniently.
// The road, encoding and pages come from the bytes right after "%PDF-" (the version), read
// without being consumed, so that mutations of the body keep them. Nothing is caught: anything
// that escapes is a finding.
#include <algorithm>
#include <string>

#include "FuzzTargets.h"
#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "pages/uPDFPageTree.h"

namespace {

// One road and mostly one page per input keep an execution short.
constexpr unsigned kRoads = 7; // options 0..4, then the reading text, then its words

unsigned roadChoice(const std::uint8_t* data, std::size_t size) {
    const std::size_t at = size >= 9 ? 5 : 0;
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = at; i < at + 4 && i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash ^ (hash >> 16);
}

int walkDocument(const std::uint8_t* data, std::size_t size, bool lenient) {
    const unsigned choice = roadChoice(data, size);
    const unsigned road = choice % kRoads;
    korvel::TKorvel korvel;
    korvel.SetLenientReading(lenient);
    if (!korvel.LoadFromBytes(std::string(reinterpret_cast<const char*>(data), size)))
        return 0;
    korvel.Encrypted();
    korvel.LocatablePageBound();
    korvel.SetTextEncoding((choice / kRoads) % 2 ? korvel::TTextEncoding::Utf8
                                                 : korvel::TTextEncoding::Cp1252);
    // The first page or the second alone, or both, so that what a document caches for one
    // page also serves the next.
    const unsigned walk = (choice / kRoads / 2) % 4;
    const int count = korvel.PageCount();
    const int first = walk == 1 && count >= 2 ? 2 : 1;
    const int last = std::min(walk == 3 ? 2 : first, count);
    korvel::TPDFPageTree& tree = korvel.SelectedDocumentObject().PageTree();
    for (int page = first; page <= last; ++page) {
        korvel.SelectPage(page);
        korvel.PageWidth();
        korvel.PageHeight();
        tree.PageResources();
        const int streams = static_cast<int>(tree.ContentStreams().size());
        for (int cursor = 1; cursor <= streams; ++cursor) {
            tree.SetStreamCursor(cursor);
            tree.ContentData();
        }
        if (road < 5)
            korvel.GetPageText(int(road));
        else if (road == 5)
            korvel.GetReadingText();
        else
            korvel.GetPageWords();
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
