#include "text/uPDFPageText.h"

#include "file/uPDFFlate.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFFontRasterizer.h"
#include "pages/uPDFPageTree.h"
#include "text/uPDFExtractor.h"
#include "text/uPDFRenderer.h"
#include "text/uPDFTextFunnel.h"

namespace korvel {

TPDFPageText::TPDFPageText() = default;
TPDFPageText::~TPDFPageText() = default;

void TPDFPageText::Reset() {
    FFontPrograms.reset();
}

TPDFFontProgramCache& TPDFPageText::Programs() {
    if (!FFontPrograms)
        FFontPrograms = std::make_unique<TPDFFontProgramCache>();
    return *FFontPrograms;
}

std::string TPDFPageText::RawText(TPDFPageTree& tree, int option, TTextEncoding encoding) {
    if (!tree.CurrentPage() || !tree.Store())
        return {};
    if (option < 0 || option > 2)
        return {};
    TPDFFontCollection fonts(encoding, &Programs());
    fonts.LoadPrograms = true;
    // The content streams in order, joined with nothing between them. A page cannot make the
    // joined content grow past one stream's decoding limit by listing a stream many times.
    std::string content;
    const int streams = static_cast<int>(tree.ContentStreams().size());
    for (int i = 1; i <= streams && content.size() < DecodeLimit(); ++i) {
        tree.SetStreamCursor(i);
        if (i == 1)
            content = tree.ContentData();
        else
            content += tree.ContentData();
    }
    if (content.size() > DecodeLimit())
        content.resize(DecodeLimit());
    if (option == 1)
        option = 0;
    TPDFExtractor extractor(tree.PageResources(), fonts);
    return extractor.ExtractText(content, option);
}

std::string TPDFPageText::PositionedText(TPDFPageTree& tree,
                                         const TPositionedTextSettings& settings,
                                         TTextEncoding encoding) {
    if (!tree.CurrentPage() || !tree.Store())
        return {};
    TPDFFontCollection fonts(encoding, &Programs());
    fonts.LoadPrograms = true;
    TPDFTextFunnel funnel;
    funnel.Origin = settings.Origin;
    funnel.UnitScale = settings.UnitScale;
    funnel.PageWidth = settings.PageWidth;
    funnel.PageHeight = settings.PageHeight;
    funnel.WordMode = settings.WordMode;
    Interpret(tree, fonts, funnel);
    std::string text;
    funnel.WriteRecords(text);
    return text;
}

void TPDFPageText::Interpret(TPDFPageTree& tree, TPDFFontCollection& fonts,
                             TPDFTextFunnel& funnel) {
    // The interpreter reads the page's Contents, Resources and boxes itself.
    TPDFRenderer renderer(fonts);
    renderer.Mode = 5;
    renderer.PageObject = tree.CurrentPage();
    renderer.AttachFunnel(&funnel);
    renderer.RunPage();
}

} // namespace korvel
