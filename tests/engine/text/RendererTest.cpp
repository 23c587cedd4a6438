#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "fonts/uPDFFontRasterizer.h"
#include "pages/uPDFPageTree.h"
#include "platform/uInstalledFonts.h"
#include "support/NoInstalledFonts.h"
#include "support/PdfWriter.h"
#include "text/uPDFGlyphSink.h"
#include "text/uPDFRenderer.h"
#include "text/uPDFTextFunnel.h"

using namespace korvel;
using tolvane_test::NoInstalledFonts;
using tolvane_test::PdfWriter;

namespace {

// Page fonts. F1: Helvetica, WinAnsi (A 667, B 667, H 722, e 556, l 222, o 556, space 278).
// F0: Identity-H, CID 65 is 500 wide (others 1000), ToUnicode maps only 0x0041 to A.
// T3 / T4: Type 3, code 65 is 500 wide, FontMatrix 0.001 / 0.01. FD: a direct dictionary.
const std::string kType3 =
    "/Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /CharProcs << /A 16 0 R >> "
    "/Encoding << /Differences [65 /A] >> /FirstChar 65 /LastChar 65 /Widths [500] ";
const std::string kResources =
    "/Font << /F1 10 0 R /F0 11 0 R /T3 14 0 R /T4 15 0 R "
    "/FD << /Type /Font /Subtype /Type1 /BaseFont /Courier >> >> "
    "/XObject 20 0 R /ExtGState << /GS1 << /Font [10 0 R 9] >> >> "
    "/ColorSpace << /Gray [/ICCBased 30 0 R] /Four [/ICCBased 31 0 R] /One [/ICCBased 32 0 R] "
    "/Cal [/ICCBased 33 0 R] /Spot [/Separation /Gold /DeviceCMYK 34 0 R] /Dev /DeviceGray >>";
const std::string kText = "BT /F1 12 Tf 100 700 Td ";

double width(const TPDFTextFunnelBlock& b) {
    return b.LowerRight.x - b.LowerLeft.x;
}

std::string texts(const std::vector<TPDFTextFunnelBlock>& blocks) {
    std::string all;
    for (const auto& b : blocks)
        all += (all.empty() ? "" : "|") + b.Text;
    return all;
}

std::string form(const std::string& entries) {
    return "/Type /XObject /Subtype /Form /BBox [0 0 100 100] " + entries;
}

class Renderer : public ::testing::Test {
protected:
    void SetUp() override { SetInstalledFonts(&Installed); }
    void TearDown() override { SetInstalledFonts(nullptr); }

    // Tests add their forms (object 20 is the XObject dictionary) and annotations from 40 on.
    PdfWriter W;
    std::string XObjects;
    std::string PageEntries;
    bool ResourcesOnParent = false;

    std::string Pdf(const std::vector<std::string>& streams) {
        W.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        W.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 612 792] " +
                     std::string(ResourcesOnParent ? "/Resources 4 0 R" : "") + " >>");
        std::string contents = "[";
        for (std::size_t i = 0; i < streams.size(); ++i) {
            W.SetStream(int(i) + 5, "", streams[i]);
            contents += std::to_string(i + 5) + " 0 R ";
        }
        W.Set(3, "<< /Type /Page /Parent 2 0 R /Contents " + contents + "] " +
                     (ResourcesOnParent ? "" : "/Resources 4 0 R ") + PageEntries + " >>");
        W.Set(4, "<< " + kResources + " >>");
        W.Set(10,
              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
        W.Set(11, "<< /Type /Font /Subtype /Type0 /BaseFont /CJK /Encoding /Identity-H "
                  "/DescendantFonts [12 0 R] /ToUnicode 13 0 R >>");
        W.Set(12, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /CJK /W [65 [500]] /DW 1000 >>");
        W.SetStream(13, "",
                    "begincmap\n1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
                    "1 beginbfrange\n<0041> <0041> <0041>\nendbfrange\nendcmap\n");
        W.Set(14, "<< " + kType3 + "/FontMatrix [0.001 0 0 0.001 0 0] >>");
        W.Set(15, "<< " + kType3 + "/FontMatrix [0.01 0 0 0.01 0 0] >>");
        W.SetStream(16, "", "500 0 d0");
        W.Set(20, "<< " + XObjects + " >>");
        W.SetStream(30, "/N 3 /Alternate /DeviceGray", "");
        W.SetStream(31, "/N 4", "");
        W.SetStream(32, "/N 1", "");
        W.SetStream(33, "/N 3 /Alternate /CalRGB", "");
        W.Set(34, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0 1 0] /N 1 >>");
        W.RootObj = 1;
        return W.Finish();
    }

    std::vector<TPDFTextFunnelBlock> Run(const std::vector<std::string>& streams,
                                         bool words = false) {
        TPDFDocument doc;
        EXPECT_TRUE(doc.LoadFromBytes(Pdf(streams)));
        TPDFFontCollection fonts;
        fonts.LoadPrograms = true;
        Funnel = std::make_unique<TPDFTextFunnel>(); // its blocks point into it
        TPDFTextFunnel& funnel = *Funnel;
        funnel.WordMode = words;
        TPDFRenderer renderer(fonts);
        renderer.PageObject = doc.PageTree().CurrentPage();
        renderer.AttachFunnel(&funnel);
        renderer.RunPage();
        Skipped = renderer.SkippedForms();
        return funnel.Blocks();
    }
    std::vector<TPDFTextFunnelBlock> Run(const std::string& content, bool words = false) {
        return Run(std::vector<std::string>{content}, words);
    }
    // The one block a content must give.
    TPDFTextFunnelBlock One(const std::string& content) {
        const auto blocks = Run(content);
        EXPECT_EQ(blocks.size(), 1u) << texts(blocks);
        return blocks.empty() ? TPDFTextFunnelBlock{} : blocks.front();
    }

    NoInstalledFonts Installed;
    std::uint64_t Skipped = 0;
    std::unique_ptr<TPDFTextFunnel> Funnel;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Interpreter state

TEST_F(Renderer, TextAfterQIsPlacedWithTheMatrixFromBeforeTheSave) {
    EXPECT_DOUBLE_EQ(One("1 0 0 1 5 0 cm q 2 0 0 2 0 0 cm Q " + kText + "(A) Tj ET").LowerLeft.x,
                     105);
    EXPECT_NEAR(width(One("q 2 0 0 2 0 0 cm Q " + kText + "(A) Tj ET")), 8.004, 1e-9);
}

TEST_F(Renderer, AFormsMatrixCmAndColourDoNotCrossItsDo) {
    XObjects = "/Fm1 21 0 R";
    W.SetStream(21, form("/Matrix [1 0 0 1 100 0] /Resources 4 0 R"),
                "3 0 0 3 0 0 cm BT /F1 12 Tf 0 0 Td (B) Tj ET");
    const auto blocks = Run("1 0 0 rg /Fm1 Do " + kText + "(A) Tj ET");
    ASSERT_EQ(texts(blocks), "B|A");
    EXPECT_EQ(blocks[0].Colour, "#000000"); // a form starts from the initial state
    EXPECT_EQ(blocks[1].Colour, "#FF0000");
    EXPECT_DOUBLE_EQ(blocks[0].LowerLeft.x, 100);
    EXPECT_NEAR(width(blocks[0]), 3 * 8.004, 1e-9);
    EXPECT_DOUBLE_EQ(blocks[1].LowerLeft.x, 100);
    EXPECT_NEAR(width(blocks[1]), 8.004, 1e-9);
}

TEST_F(Renderer, AFormWithoutResourcesFindsTheCallersFontsOnlyWhenTypedXObject) {
    XObjects = "/Typed 21 0 R /Untyped 22 0 R";
    W.SetStream(21, form(""), "BT /F1 12 Tf 100 600 Td (AB) Tj ET");
    W.SetStream(22, "/Subtype /Form /BBox [0 0 1 1]", "BT /F1 12 Tf 100 500 Td (AB) Tj ET");
    const auto blocks = Run(kText + "(A) Tj ET /Typed Do /Untyped Do");
    ASSERT_EQ(texts(blocks), "A|AB|AB");
    EXPECT_NEAR(width(blocks[1]), 16.008, 1e-9);
    // Untyped: no fonts, so zero widths, but the text of the font selected last.
    EXPECT_DOUBLE_EQ(width(blocks[2]), 0);
}

TEST_F(Renderer, UnbalancedQRestoresTheStartOfTheContent) {
    EXPECT_DOUBLE_EQ(One("1 0 0 1 50 0 cm Q Q " + kText + "(A) Tj ET").LowerLeft.x, 100);
    EXPECT_DOUBLE_EQ(One("q 1 0 0 1 50 0 cm q Q Q Q Q " + kText + "(A) Tj ET").LowerLeft.x, 100);
}

TEST_F(Renderer, StreamsOfAnArrayAreSeparatedByASpace) {
    const auto blocks = Run(std::vector<std::string>{"BT 100 700 Td /F1 10", "Tf (A) Tj ET"});
    ASSERT_EQ(texts(blocks), "A");
    EXPECT_DOUBLE_EQ(blocks[0].Size, 10);
}

TEST_F(Renderer, ResourcesAreInheritedFromTheParent) {
    ResourcesOnParent = true;
    EXPECT_NEAR(width(One(kText + "(A) Tj ET")), 8.004, 1e-9);
}

TEST_F(Renderer, AFormDrawnTwiceGivesTwoRuns) {
    XObjects = "/Fm1 21 0 R";
    W.SetStream(21, form(""), "BT /F1 12 Tf 100 700 Td (abc) Tj ET");
    EXPECT_EQ(texts(Run("/Fm1 Do /Fm1 Do")), "abc|abc");
}

TEST_F(Renderer, AFormDrawnAgainReadsItsKeptTokensAsItsContent) {
    // From the second drawing on a form reads the tokens it kept: arrays, an inline image with
    // BI and EI in its data, and a BI inside an array must read as at the first drawing.
    XObjects = "/Fm1 21 0 R";
    W.SetStream(21, form(""),
                "BT /F1 12 Tf 100 700 Td [(a) BI (b)] TJ ET\n"
                "BI /W 2 /H 1 /CS /G /BPC 8 ID \nEI EI BT /F1 12 Tf 100 600 Td (c) Tj ET\n");
    const std::string once = texts(Run("/Fm1 Do"));
    EXPECT_EQ(once, "ab|c");
    const std::string down = " 1 0 0 1 0 -200 cm ";
    EXPECT_EQ(texts(Run("/Fm1 Do" + down + "/Fm1 Do" + down + "/Fm1 Do")),
              once + "|" + once + "|" + once);
}

TEST_F(Renderer, FormsThatDrawThemselvesEnd) {
    XObjects = "/Self 21 0 R /Ping 22 0 R /Pong 23 0 R";
    W.SetStream(21, form(""), "BT /F1 12 Tf 100 700 Td (S) Tj ET /Self Do");
    W.SetStream(22, form(""), "BT /F1 12 Tf 100 600 Td (P) Tj ET /Pong Do");
    W.SetStream(23, form(""), "BT /F1 12 Tf 100 500 Td (Q) Tj ET /Ping Do");
    EXPECT_EQ(texts(Run("/Self Do /Ping Do")), "S|P|Q");
    EXPECT_EQ(Skipped, 2u);
}

TEST_F(Renderer, ChainsDeeperThanTheFormDepthAreCut) {
    for (int i = 0; i < 40; ++i) {
        XObjects += "/L" + std::to_string(i) + " " + std::to_string(50 + i) + " 0 R ";
        W.SetStream(50 + i, form(""),
                    "BT /F1 12 Tf 100 " + std::to_string(700 - 14 * i) + " Td (x) Tj ET /L" +
                        std::to_string(i + 1) + " Do");
    }
    EXPECT_EQ(Run("/L0 Do").size(), std::size_t(TPDFRenderer::kMaxFormDepth));
}

TEST_F(Renderer, TenLevelsOfFormsEachDrawingTheNextTenTimesEnd) {
    for (int i = 0; i < 10; ++i) {
        XObjects += "/L" + std::to_string(i) + " " + std::to_string(50 + i) + " 0 R ";
        std::string draws;
        for (int k = 0; i < 9 && k < 10; ++k)
            draws += "/L" + std::to_string(i + 1) + " Do ";
        W.SetStream(50 + i, form(""), draws);
    }
    EXPECT_EQ(texts(Run("/L0 Do " + kText + "(End) Tj ET")), "End");
    EXPECT_GT(Skipped, 0u);
}

// ---------------------------------------------------------------------------------------------
// Colours

TEST_F(Renderer, FillColoursReachTheRuns) {
    struct Case {
        const char* Name;
        std::string Setup;
        std::string Colour;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"gray halves round to even", "0.5 g", "#808080"},
        {"gray is not clamped and spills into the other channels", "2 g", "#FEFFFF"},
        {"a negative gray wraps around", "-1 g", "#010000"},
        {"rgb", "1 0 0 rg", "#FF0000"},
        {"rgb is clamped", "2 -1 0.5 rg", "#FF0080"},
        {"cmyk black", "0 0 0 1 k", "#000000"},
        {"cmyk magenta", "0 1 0 0 k", "#FF00FF"},
        {"a pattern takes three operands, the name as 0", "1 0 /Pattern cs /P1 scn", "#FF0000"},
        {"an unknown space reads as rgb", "/Nope cs 0 0 1 sc", "#0000FF"},
        {"ICCBased takes its Alternate", "/Gray cs 0.5 sc", "#808080"},
        {"ICCBased without Alternate and N 4 is cmyk", "/Four cs 0 1 0 0 sc", "#FF00FF"},
        {"ICCBased without Alternate and N 1 is gray", "/One cs 0.5 sc", "#808080"},
        {"an Alternate that is no device space leaves the colour", "1 0 0 rg /Cal cs 0 1 0 sc", "#FF0000"},
        {"separation colours are black", "1 0 0 rg /Spot cs 1 scn", "#000000"},
        {"a resource naming a device space", "/Dev cs 0.5 sc", "#808080"},
        {"a stroke colour does not colour text", "1 0 0 RG 0 1 0 0 K", "#000000"},
        {"Q restores the fill colour", "1 0 0 rg q 0 0 1 rg Q", "#FF0000"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(One(c.Setup + " " + kText + "(A) Tj ET").Colour, c.Colour);
    }
}

// ---------------------------------------------------------------------------------------------
// Inline images: each case must show A and nothing of what hides in the data

TEST_F(Renderer, InlineImagesAreSteppedOver) {
    const std::string trap = "EI (Bad) Tj ";
    std::string pixels = trap;
    pixels.resize(300, 'x');
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x0E", 6) + trap +
                             std::string("\xFF\xDA\x00\x02", 4) + trap +
                             std::string("\xFF\x00\xFF\xD0", 4) + trap + "\xFF\xD9";
    struct Case {
        const char* Name;
        std::string Image;
    };
    const std::vector<Case> cases = {
        {"raw rgb data is skipped before EI is sought", "/W 10 /H 10 /BPC 8 /CS /RGB ID " + pixels},
        {"a filtered image ends at EI followed by white space", "/W 9 /H 9 /F /Fl ID xEI(Bad)Tj"},
        {"a DCT image ends at its end-of-image marker", "/W 1 /H 1 /F /DCT ID " + jpeg},
        {"a DCT filter array", "/W 1 /H 1 /F [/DCTDecode] ID " + jpeg},
        {"a negative width reads as 0", "/W -5 /H 10 /BPC 8 ID "},
        {"eight bits without BPC", "/W 8 /H 1 /CS /G ID xEI(B)Tj"},
        {"an image mask without BPC has one bit", "/W 16 /H 1 /IM true ID zz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(texts(Run(kText + "BI " + c.Image + " EI (A) Tj ET")), "A");
    }
}

// ---------------------------------------------------------------------------------------------
// Annotations

TEST_F(Renderer, AnnotationAppearancesFollowTheirStateAndFlags) {
    W.SetStream(41, form("/Resources 4 0 R /Matrix [1 0 0 1 30 30]"), "BT /F1 12 Tf (On) Tj ET");
    W.SetStream(42, form("/Resources 4 0 R"), "BT /F1 12 Tf (Off) Tj ET");
    W.SetStream(43, "/Resources 4 0 R", "BT /F1 12 Tf (NoBox) Tj ET");
    W.SetStream(44, form("/Resources 4 0 R"), "BT /F1 12 Tf (Single) Tj ET");
    const std::string widget = "/Type /Annot /Subtype /Widget /Rect [200 300 250 320] ";
    const std::string states = "/AP << /N << /On 41 0 R /Off 42 0 R >> >> ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {states + "/AS /Off", "Off"},
        {states + "/AS /On", "On"},
        {states, ""},
        {states + "/AS /Off /F 4", "Off"},
        {states + "/AS /Off /F 2", ""},
        {states + "/AS /Off /F 32", ""},
        {"/AP << /N 43 0 R >>", ""},
        {"/AP << /N 44 0 R >> /AS /Off", "Single"},
    };
    for (const auto& [entries, text] : cases) {
        SCOPED_TRACE(entries);
        W.Set(40, "<< " + widget + entries + " >>");
        PageEntries = "/Annots [40 0 R << " + widget + states + "/AS /On >>]";
        const auto blocks = Run(kText + "(Page) Tj ET");
        ASSERT_FALSE(blocks.empty());
        EXPECT_EQ(texts(blocks), "Page" + (text.empty() ? "" : "|" + text));
        if (blocks.size() == 2) { // the appearance's own Matrix is not applied
            EXPECT_EQ(blocks[1].LowerLeft.x, 200);
        }
    }
}

TEST_F(Renderer, AppearancesArePlacedInThePageSpaceWhateverMatrixTheContentLeft) {
    W.SetStream(41, form("/Resources 4 0 R"), "BT /F1 12 Tf (On) Tj ET");
    W.Set(40, "<< /Type /Annot /Subtype /Widget /Rect [200 300 250 320] /AP << /N 41 0 R >> >>");
    PageEntries = "/Annots [40 0 R]";
    EXPECT_DOUBLE_EQ(One("1 0 0 1 7 0 cm").LowerLeft.x, 200);
}

// ---------------------------------------------------------------------------------------------
// Text showing numerics (Helvetica: A 667, H 722, e 556, l 222, o 556, space 278)

TEST_F(Renderer, AStringIsPlacedAndMeasuredThroughTheFont) {
    const auto block = One(kText + "(Hello) Tj ET");
    EXPECT_EQ(block.Text, "Hello");
    EXPECT_EQ(block.Size, 12);
    EXPECT_EQ(block.Colour, "#000000");
    EXPECT_DOUBLE_EQ(block.LowerLeft.x, 100);
    EXPECT_NEAR(width(block), 2278 * 0.012, 1e-9);
    // Helvetica rises 718 and falls 207 glyph units.
    EXPECT_NEAR(block.LowerLeft.y, 700 - 207 * 0.012, 1e-9);
    EXPECT_NEAR(block.UpperLeft.y, 700 + 718 * 0.012, 1e-9);
    EXPECT_EQ(block.LowerRight.y, block.LowerLeft.y);
}

TEST_F(Renderer, ShowingMovesAndMeasuresAsTheTextStateSays) {
    struct Case {
        const char* Name;
        std::string Content;
        std::string Text;
        double Right; // LowerRight.x of the last block
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"a kerned TJ joins its pieces", "[(Hel) -20 (lo)] TJ", "Hello", 100 + 2298 * 0.012},
        {"1000 in TJ moves back one font size", "[(A) 1000 (B)] TJ", "", 100 + 334 * 0.012},
        {"Tj advances the text matrix", "(A) Tj (B) Tj", "AB", 100 + 1334 * 0.012},
        {"strings stay on the stack for the next Tj", "(A) Tj Tj", "AA", 100 + 1334 * 0.012},
        {"TJ after a showing has nothing to show", "[(A)] TJ TJ", "A", 100 + 667 * 0.012},
        {"Tc is added to every code", "2 Tc (AB) Tj", "AB", 100 + 1334 * 0.012 + 4},
        {"Tw is added to the space", "3 Tw (A B) Tj", "A B", 100 + 1612 * 0.012 + 3},
        {"the double quote shows nothing and sets no spacing", "1 2 (B) \" (A) Tj", "A", 100 + 667 * 0.012},
        {"0 Tf shows nothing and does not move", "/F1 0 Tf (A) Tj /F1 12 Tf (B) Tj", "B", 100 + 667 * 0.012},
        {"text without spaces between tokens", "(A)Tj[(B)]TJ", "AB", 100 + 1334 * 0.012},
        {"a TJ element that is no number counts as 0", "[(A) /x (B)] TJ", "AB", 100 + 1334 * 0.012},
        {"Q selects the restored font again", "q /F0 12 Tf Q (AB) Tj", "AB", 100 + 1334 * 0.012},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto blocks = Run(kText + c.Content + " ET");
        ASSERT_FALSE(blocks.empty());
        if (!c.Text.empty()) {
            EXPECT_EQ(texts(blocks), c.Text);
        }
        EXPECT_NEAR(blocks.back().LowerRight.x, c.Right, 1e-9);
        EXPECT_DOUBLE_EQ(blocks.front().LowerLeft.x, 100);
        EXPECT_EQ(blocks.front().FontName, "Arial");
    }
}

TEST_F(Renderer, HorizontalScaleWidensTheRunButNotTheAdvance) {
    const auto blocks = Run(kText + "200 Tz (AB) Tj (C) Tj ET");
    ASSERT_EQ(texts(blocks), "AB|C");
    EXPECT_NEAR(width(blocks[0]), 1334 * 0.024, 1e-9);
    EXPECT_NEAR(blocks[1].LowerLeft.x, 100 + 1334 * 0.012, 1e-9);
}

TEST_F(Renderer, RiseLiftsTheBottomByItsValue) {
    const double plain = One(kText + "(A) Tj ET").LowerLeft.y;
    EXPECT_NEAR(One(kText + "5 Ts (A) Tj ET").LowerLeft.y, plain + 5, 1e-9);
    EXPECT_NEAR(One(kText + "3 Tr (A) Tj ET").LowerLeft.y, plain, 1e-9);
}

TEST_F(Renderer, QuoteMovesDownByTheLeadingFirst) {
    const double plain = One(kText + "(A) Tj ET").LowerLeft.y;
    const auto blocks = Run(kText + "14 TL (A) Tj (B)' ET");
    ASSERT_EQ(texts(blocks), "A|B");
    EXPECT_DOUBLE_EQ(blocks[1].LowerLeft.x, 100);
    EXPECT_NEAR(blocks[1].LowerLeft.y, plain - 14, 1e-9);
}

TEST_F(Renderer, AGraphicsStateFontSelectsTheReferencedFontAndSize) {
    const auto block = One("BT /GS1 gs 100 700 Td (A) Tj ET");
    EXPECT_EQ(block.Size, 9);
    EXPECT_EQ(block.FontName, "Arial");
    EXPECT_NEAR(width(block), 667 * 0.009, 1e-9);
}

// A font given as a direct dictionary is selected like one given by reference; a form's own
// direct font under the page's name is another font.
TEST_F(Renderer, DirectFontDictionariesAreSelectedByHolderAndName) {
    XObjects = "/Fm1 21 0 R";
    W.SetStream(21,
                form("/Resources << /Font << /FD << /Type /Font /Subtype /Type1 /BaseFont "
                     "/Times-Roman /Encoding << /Differences [65 /Z] >> >> >> >>"),
                "BT /FD 10 Tf 100 500 Td (AB) Tj ET");
    struct Case {
        const char* Name;
        std::string Content;
        std::string Text;
        std::vector<std::string> Fonts;
        double FirstWidth;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"the only font is direct", "BT /FD 10 Tf 100 700 Td (AB) Tj ET", "AB", {"CourierNew"}, 12},
        {"direct after a reference and back",
         kText + "(A) Tj /FD 10 Tf 0 -20 Td (A) Tj /F1 12 Tf 0 -20 Td (A) Tj ET",
         "A|A|A", {"Arial", "CourierNew", "Arial"}, 8.004},
        {"the form's direct font under the same name",
         "BT /FD 10 Tf 100 700 Td (AB) Tj ET /Fm1 Do BT /FD 10 Tf 100 600 Td (AB) Tj ET",
         "AB|ZB|AB", {"CourierNew", "TimesNewRoman", "CourierNew"}, 12},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto blocks = Run(c.Content);
        ASSERT_EQ(texts(blocks), c.Text);
        ASSERT_EQ(blocks.size(), c.Fonts.size());
        for (std::size_t i = 0; i < blocks.size(); ++i)
            EXPECT_EQ(blocks[i].FontName, c.Fonts[i]) << i;
        EXPECT_NEAR(width(blocks[0]), c.FirstWidth, 1e-9);
    }
}

// ---------------------------------------------------------------------------------------------
// Composite and Type 3 fonts

TEST_F(Renderer, TwoByteCodesDecodeThroughToUnicode) {
    // 0x0041 is 500 wide and maps to A; 0x0042 has the default width and no text.
    const auto plain = One("BT /F0 12 Tf 100 700 Td <00410042> Tj ET");
    EXPECT_EQ(plain.Text, "A");
    EXPECT_NEAR(width(plain), 1500 * 0.012, 1e-9);
    // Character spacing counts only for a code the W list holds.
    EXPECT_NEAR(width(One("BT /F0 12 Tf 2 Tc 100 700 Td <00410042> Tj ET")), 18 + 2, 1e-9);
}

TEST_F(Renderer, Type3GlyphsGoThroughTheFontMatrix) {
    // The advance goes through the font matrix too: the second A follows the first, and the
    // two join as one block of size 12.
    const auto small = Run("BT /T3 12 Tf 100 700 Td (A) Tj (A) Tj ET");
    ASSERT_EQ(texts(small), "AA");
    EXPECT_NEAR(width(small[0]), 2 * 500 * 12 * 0.001, 1e-9);
    EXPECT_NEAR(small[0].Size, 12, 1e-12);
    EXPECT_NEAR(width(One("BT /T4 12 Tf 100 700 Td (A) Tj ET")), 500 * 12 * 0.01, 1e-9);
}

// ---------------------------------------------------------------------------------------------
// Word cutting (option 4)

TEST_F(Renderer, WordModeCutsStringsAtTheirSpaces) {
    const auto words = Run(kText + "(Hello big world) Tj ET", true);
    ASSERT_EQ(texts(words), "Hello|big world");
    EXPECT_NEAR(words[1].LowerLeft.x, 100 + (2278 + 278) * 0.012, 1e-9);
    EXPECT_EQ(texts(Run(kText + "(Hello big world) Tj ET")), "Hello big world");
    EXPECT_EQ(texts(Run(kText + "[(Hel) -20 (lo)] TJ ET", true)), "Hello");
    EXPECT_EQ(texts(Run(kText + "( lead) Tj ET", true)), " lead");
}

// ---------------------------------------------------------------------------------------------
// Records through the facade

TEST_F(Renderer, RecordsCountFromTheChosenOriginInTheChosenUnits) {
    const std::string pdf = Pdf({"BT /F1 12 Tf 72 700 Td (A) Tj ET"});
    const auto fields = [&](int origin, int units) {
        TKorvel korvel;
        EXPECT_EQ(korvel.LoadFromBytes(pdf), 1);
        EXPECT_EQ(korvel.SelectPage(1), 1);
        korvel.SetOrigin(origin);
        korvel.SetMeasurementUnits(units);
        const std::string records = korvel.GetPageText(3);
        EXPECT_EQ(records.substr(records.size() - 2), "\r\n");
        std::vector<std::string> out;
        std::stringstream line(records.substr(0, records.size() - 2));
        for (std::string field; std::getline(line, field, ',');)
            out.push_back(field);
        EXPECT_EQ(out.size(), 12u);
        out.resize(12);
        return out;
    };
    const auto plain = fields(0, 0);
    EXPECT_EQ(plain[0], "\"Arial\"");
    EXPECT_EQ(plain[1], "#000000");
    EXPECT_EQ(plain[2], "12.00");
    EXPECT_EQ(plain[3], "72.0000");
    EXPECT_EQ(plain[11], "\"A\"");
    const double bottom = std::stod(plain[4]);
    EXPECT_NEAR(std::stod(fields(1, 0)[4]), 792 - bottom, 1e-4);
    EXPECT_EQ(fields(2, 0)[3], "540.0000");
    EXPECT_EQ(fields(0, 1)[3], "25.4000");
    EXPECT_EQ(fields(0, 2)[3], "1.0000");

    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(Pdf({"BT /F1 12 Tf 72 700 Td (Hello big world) Tj ET"})), 1);
    const std::string words = korvel.GetPageText(4);
    EXPECT_NE(words.find(",\"Hello\"\r\n"), std::string::npos) << words;
    EXPECT_NE(words.find(",\"big world\"\r\n"), std::string::npos) << words;
    ASSERT_EQ(korvel.LoadFromBytes(Pdf({"0 0 m 10 10 l S"})), 1);
    EXPECT_EQ(korvel.GetPageText(3), "");
}

// ---------------------------------------------------------------------------------------------
// Hostile content

TEST_F(Renderer, AHundredThousandSavesEndAndRestoreTheFirstState) {
    std::string content = "1 0 0 1 50 0 cm ";
    for (int i = 0; i < 100000; ++i)
        content += "q ";
    content += "2 0 0 2 0 0 cm ";
    for (int i = 0; i < 100000; ++i)
        content += "Q ";
    EXPECT_DOUBLE_EQ(One(content + kText + "(A) Tj ET").LowerLeft.x, 150);
}

TEST_F(Renderer, ATJOfTwoHundredThousandNumbersShowsItsStrings) {
    std::string content = kText + "[(A) ";
    for (int i = 0; i < 200000; ++i)
        content += "0 ";
    const auto block = One(content + "(B)] TJ ET");
    EXPECT_EQ(block.Text, "AB");
    EXPECT_NEAR(width(block), 1334 * 0.012, 1e-9);
}

// ---------------------------------------------------------------------------------------------
// The glyph sink

TEST_F(Renderer, AGlyphSinkGetsEveryCodeWithItsPlaceAndTheFunnelNothing) {
    struct TSink : TPDFGlyphSink {
        std::vector<TPDFShownGlyph> Glyphs;
        std::string Text;
        void AddGlyph(const TPDFShownGlyph& glyph) override {
            Glyphs.push_back(glyph);
            Text += glyph.Text;
        }
    } sink;
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(Pdf({kText + "5 Ts 2 Tc (Hel) Tj [(l) -1000 (o)] TJ ET"})));
    TPDFFontCollection fonts;
    TPDFTextFunnel funnel;
    TPDFRenderer renderer(fonts);
    renderer.PageObject = doc.PageTree().CurrentPage();
    renderer.AttachFunnel(&funnel);
    renderer.AttachGlyphSink(&sink);
    renderer.RunPage();
    EXPECT_TRUE(funnel.Blocks().empty());
    ASSERT_EQ(sink.Text, "Hello");
    const TPDFShownGlyph& h = sink.Glyphs[0];
    EXPECT_DOUBLE_EQ(h.Origin.x, 100);
    EXPECT_DOUBLE_EQ(h.Origin.y, 705);            // the rise
    EXPECT_NEAR(h.End.x, 100 + 0.722 * 12, 1e-9); // its drawn width, without the spacing
    EXPECT_NEAR(sink.Glyphs[1].Origin.x, 100 + 0.722 * 12 + 2, 1e-9);
    EXPECT_NEAR(h.Up.y - h.Origin.y, 12, 1e-9);
    EXPECT_NEAR(h.Ascent, 0.718, 1e-3); // Helvetica's
    // The TJ adjustment moves the o one font size on from where the l's spacing ends.
    EXPECT_NEAR(sink.Glyphs[4].Origin.x - sink.Glyphs[3].End.x, 12 + 2, 1e-9);

    // A Type 3 font's adjustments and spacing are in text space too, whatever its matrix.
    for (const char* font : {"/T3", "/T4"}) {
        sink.Glyphs.clear();
        ASSERT_TRUE(doc.LoadFromBytes(
            Pdf({std::string("BT ") + font + " 10 Tf 100 700 Td 1 Tc [(A) -1000 (A)] TJ ET"})));
        TPDFRenderer type3(fonts);
        type3.PageObject = doc.PageTree().CurrentPage();
        type3.AttachGlyphSink(&sink);
        type3.RunPage();
        ASSERT_EQ(sink.Glyphs.size(), 2u) << font;
        EXPECT_NEAR(sink.Glyphs[1].Origin.x - sink.Glyphs[0].End.x, 10 + 1, 1e-6) << font;
    }
}
