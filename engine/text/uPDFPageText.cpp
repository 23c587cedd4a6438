#include "text/uPDFPageText.h"

#include <algorithm>
#include <cmath>

#include "file/uPDFFlate.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFFontRasterizer.h"
#include "pages/uPDFPageTree.h"
#include "text/uPDFExtractor.h"
#include "text/uPDFReadingOrder.h"
#include "text/uPDFRenderer.h"
#include "text/uPDFTextFunnel.h"

namespace korvel {

TPDFPageText::TPDFPageText() = default;
TPDFPageText::~TPDFPageText() = default;

void TPDFPageText::Reset() {
    FFontRecords.reset();
    FFontPrograms.reset();
}

TPDFFontRecordCache& TPDFPageText::Records() {
    if (!FFontRecords)
        FFontRecords = std::make_unique<TPDFFontRecordCache>();
    return *FFontRecords;
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
    TPDFFontCollection fonts(encoding, &Programs(), &Records());
    fonts.LoadPrograms = true;
    fonts.StandardPrograms = false; // the extractor reads no program
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

bool TPDFPageText::Position(TPDFPageTree& tree, const TPositionedTextSettings& settings,
                            TTextEncoding encoding, TPDFTextFunnel& funnel) {
    if (!tree.CurrentPage() || !tree.Store())
        return false;
    TPDFFontCollection fonts(encoding, &Programs(), &Records());
    fonts.LoadPrograms = true;
    fonts.StandardPrograms = false; // as on the reading road: the metrics give the glyphs
    funnel.Origin = settings.Origin;
    funnel.UnitScale = settings.UnitScale;
    funnel.PageWidth = settings.PageWidth;
    funnel.PageHeight = settings.PageHeight;
    funnel.WordMode = settings.WordMode;
    Interpret(tree, fonts, funnel);
    return true;
}

std::string TPDFPageText::PositionedText(TPDFPageTree& tree,
                                         const TPositionedTextSettings& settings,
                                         TTextEncoding encoding) {
    TPDFTextFunnel funnel;
    std::string text;
    if (Position(tree, settings, encoding, funnel))
        funnel.WriteRecords(text);
    return text;
}

std::vector<TPDFTextRecord> TPDFPageText::PositionedRecords(TPDFPageTree& tree,
                                                            const TPositionedTextSettings& settings,
                                                            TTextEncoding encoding) {
    TPDFTextFunnel funnel;
    if (!Position(tree, settings, encoding, funnel))
        return {};
    return funnel.TakeRecords();
}

TReadingLayout TPDFPageText::ReadingLayout(TPDFPageTree& tree) {
    if (!tree.CurrentPage() || !tree.Store())
        return {};
    TPDFFontCollection fonts(TTextEncoding::Utf8, &Programs(), &Records());
    fonts.LoadPrograms = true;
    fonts.GlyphNamesAsText = false;
    fonts.CodesByCMap = true;
    // A standard font's glyphs come from its metrics and encodings; its substitute's program
    // would be read from disk for nothing.
    fonts.StandardPrograms = false;
    TPDFReadingCollector collector;
    TPDFRenderer renderer(fonts);
    renderer.Mode = 5;
    renderer.PageObject = tree.CurrentPage();
    renderer.AttachGlyphSink(&collector);
    // The box and rotation are known once the run begins; glyphs are moved afterwards.
    renderer.RunPage();
    const auto& box = renderer.PageBox;
    const double x0 = std::min(box[0], box[2]);
    const double y0 = std::min(box[1], box[3]);
    const double width = std::fabs(box[2] - box[0]);
    const double height = std::fabs(box[3] - box[1]);
    TPDFMatrix display{1, 0, 0, 1, -x0, -y0};
    switch (renderer.PageRotation) {
    case 90:
        display = {0, -1, 1, 0, -y0, width + x0};
        break;
    case 180:
        display = {-1, 0, 0, -1, width + x0, height + y0};
        break;
    case 270:
        display = {0, 1, -1, 0, height + y0, -x0};
        break;
    default:
        break;
    }
    const bool turned = renderer.PageRotation == 90 || renderer.PageRotation == 270;
    const bool moved = display.a != 1 || display.b != 0 || display.c != 0 || display.d != 1 ||
                       display.e != 0 || display.f != 0;
    for (TReadingGlyph& glyph : collector.Glyphs) {
        // Unmoved, the same sums as through the matrix, without its products.
        const TPDFPoint origin = moved ? TransformPoint(display, glyph.X, glyph.Y)
                                       : TPDFPoint{glyph.X + 0.0, glyph.Y + 0.0};
        const TPDFPoint along =
            moved ? TransformPoint(display, glyph.X + glyph.DirX, glyph.Y + glyph.DirY)
                  : TPDFPoint{glyph.X + glyph.DirX + 0.0, glyph.Y + glyph.DirY + 0.0};
        glyph.X = origin.x;
        glyph.Y = origin.y;
        glyph.DirX = along.x - origin.x;
        glyph.DirY = along.y - origin.y;
    }
    const std::size_t mapped = collector.Glyphs.size();
    TReadingLayout layout = TPDFReadingOrder::LayOut(
        std::move(collector.Glyphs), turned ? height : width, turned ? width : height);
    layout.DroppedGlyphs += collector.Dropped;
    layout.UnmappedGlyphs = collector.Unmapped;
    layout.MappedGlyphs = mapped;
    return layout;
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
