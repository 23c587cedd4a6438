#pragma once
// Text production for the selected page of a page tree: the raw-order extractor for options 0
// to 2, or the interpreter with a consumer of the text it shows for options 3 and 4 (the funnel,
// which writes positioned records). The consumer's settings come with the call. One object
// serves one load of a document: it keeps the font programs its calls parsed and the font
// records they loaded, and everything else a call makes is freed when the call ends (errors
// included).

#include <memory>
#include <string>

#include "platform/uCodePage.h"
#include "text/uPDFReadingOrder.h"
#include "text/uPDFTextFunnel.h"

namespace korvel {

class TPDFFontCollection;
class TPDFFontProgramCache;
class TPDFFontRecordCache;
class TPDFPageTree;

// How positioned records count: from which corner (0 to 3) and in what unit (points times the
// scale), on a page of this size in that unit; WordMode writes a record per word (option 4).
struct TPositionedTextSettings {
    int Origin = 0;
    double UnitScale = 1;
    double PageWidth = 0;
    double PageHeight = 0;
    bool WordMode = false;
};

class TPDFPageText {
public:
    TPDFPageText();
    ~TPDFPageText();
    TPDFPageText(const TPDFPageText&) = delete;
    TPDFPageText& operator=(const TPDFPageText&) = delete;

    // Options 0 and 1: plain text in content order; 2: record lines per text-showing operator
    // (the content streams joined with nothing between them). Empty for other options and when
    // no page is selected (never the text of a page selected before).
    std::string RawText(TPDFPageTree& tree, int option, TTextEncoding encoding);
    // Options 3 and 4: the positioned text records of the selected page; empty when no page is
    // selected.
    std::string PositionedText(TPDFPageTree& tree, const TPositionedTextSettings& settings,
                               TTextEncoding encoding);
    // The same records as lower left corners and texts, unwritten.
    std::vector<TPDFTextRecord> PositionedRecords(TPDFPageTree& tree,
                                                  const TPositionedTextSettings& settings,
                                                  TTextEncoding encoding);
    // The reading road: the selected page's words in reading order, in points from the top
    // left of the page as it is displayed (its box and rotation applied); text in UTF-8.
    TReadingLayout ReadingLayout(TPDFPageTree& tree);
    // Forgets the parsed font programs and loaded records: for a new load of the document.
    void Reset();

private:
    // Options 3 and 4 into the funnel; false when no page is selected.
    bool Position(TPDFPageTree& tree, const TPositionedTextSettings& settings,
                  TTextEncoding encoding, TPDFTextFunnel& funnel);
    // Runs the interpreter over the selected page, handing what it shows to the funnel.
    void Interpret(TPDFPageTree& tree, TPDFFontCollection& fonts, TPDFTextFunnel& funnel);
    // The fonts of one call, their programs shared with the earlier calls.
    TPDFFontProgramCache& Programs();
    // The font records of the calls, shared with the later calls.
    TPDFFontRecordCache& Records();

    std::unique_ptr<TPDFFontProgramCache> FFontPrograms;
    std::unique_ptr<TPDFFontRecordCache> FFontRecords;
};

} // namespace korvel
