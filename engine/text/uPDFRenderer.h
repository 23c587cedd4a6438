#pragma once
// The page interpreter in text mode: runs a page's content the way a renderer does (graphics
// state and its stack, the current transformation matrix, Form XObjects, annotation
// appearances) but draws nothing; every string the content shows reaches the text funnel as a
// positioned run, measured through the fonts of the call's font collection.
//
// Ownership: the interpreter keeps pointers to the page, the font collection and an attached
// funnel, all owned by the caller; it owns a funnel of its own until one is attached, the
// decoded content of the forms it drew (for this one run) and the references it read from
// font names. Lookups that find nothing skip their operation silently; errors of nested
// services (decoding, font loading) pass through to the caller.
//
// Hostile content is bounded: forms and appearances nest at most kMaxFormDepth deep and never
// re-enter a stream being interpreted further up; a page interprets at most kContentBudget
// bytes (forms drawn again count again), after which further forms and appearances are
// skipped; saved graphics states and operand-stack entries are capped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/uPDFMatrix.h"

namespace korvel {

class TPDFDictionary;
class TPDFFontCollection;
class TPDFIndRef;
class TPDFObject;
class TPDFStream;
class TPDFStructure;
class TPDFTextFunnel;
class TPDFGlyphSink;
struct TPDFFontCollectionData;

// A token as a place in the content the interpreter reads, with the operator it names:
// operand-stack entries and kept token lists are this small.
struct TContentToken {
    std::uint32_t Pos = 0;
    std::uint32_t Len = 0;
    std::uint8_t Op = 0;
};

// Colour spaces as far as text colours need them. Separation colours read as black: tint
// transforms are not evaluated.
enum class TPDFColourSpace : std::uint8_t { DeviceGray, DeviceRGB, DeviceCMYK, Separation, Other };

// The graphics state; `q` saves a copy of all of it, text state included.
struct TPDFGraphicsState {
    // Drawing-only fields are kept so that the state reads as a renderer's would.
    static constexpr std::size_t kMaxDashElements = 16;

    TPDFPoint CurrentPoint{10, 700};
    std::int32_t FillColour = 0; // red + 256 green + 65536 blue
    std::int32_t StrokeColour = 0;
    TPDFColourSpace FillSpace = TPDFColourSpace::DeviceGray;
    TPDFColourSpace StrokeSpace = TPDFColourSpace::DeviceGray;
    double LineWidth = 1;
    std::int32_t LineCap = 0;
    std::int32_t LineJoin = 0;
    TPDFMatrix CtmCopy; // the Ctm that Q restores
    TPDFMatrix TextMatrix;
    TPDFMatrix LineMatrix;
    double HorizontalScale = 100;
    double FontSize = 12;
    // A font resource name with its slash, or a reference as text ("12 0 R"); at most 50 bytes.
    std::string FontName;
    double Leading = 0;
    double CharSpacing = 0;
    double WordSpacing = 0;
    double Rise = 0;
    std::int32_t RenderMode = 0;
    double StrokeAlpha = 1;
    double FillAlpha = 1;
    // The first kMaxDashElements elements of the dash array (nothing in text mode reads it).
    std::array<double, kMaxDashElements> DashArray{};
    std::uint8_t DashCount = 0;
};

// The name of a colour space as a renderer writes it ("DeviceRGB", "Separation", ...).
std::string_view ColourSpaceName(TPDFColourSpace space);

class TPDFRenderer {
public:
    // Forms and appearances nested deeper than this are skipped; real files stay below ten.
    static constexpr int kMaxFormDepth = 32;
    // Bytes of content one page interprets, counting each form every time it is drawn plus
    // kInterpretationCharge for each interpretation; past it, forms and appearances are skipped.
    // Real pages interpret a few MB at most.
    // Fuzzing builds lower it, so that an input's work stays small, and the charge with it, so
    // that a page of a few KiB still draws its forms and appearances.
#ifdef TOLVANE_FUZZ_BUDGET
    static constexpr std::uint64_t kContentBudget = std::uint64_t{4} << 10;
    static constexpr std::uint64_t kInterpretationCharge = 128;
#else
    static constexpr std::uint64_t kContentBudget = std::uint64_t{256} << 20;
    static constexpr std::uint64_t kInterpretationCharge = 1024;
#endif
    // Saved graphics states of all nesting levels together; a `q` beyond is only counted, and
    // the `Q` that matches it only uncounts, so content below the cap runs unchanged.
    static constexpr std::size_t kMaxSavedStates = 65536;
    // Operand-stack entries of all nesting levels together. At the cap the level that pushes
    // drops the older half of its entries: operators read from the top, so only content that
    // piles up millions of unused operands sees a difference.
    static constexpr std::size_t kMaxOperands = std::size_t{8} << 20;

    explicit TPDFRenderer(TPDFFontCollection& fonts);
    ~TPDFRenderer();
    TPDFRenderer(const TPDFRenderer&) = delete;
    TPDFRenderer& operator=(const TPDFRenderer&) = delete;

    // 5 is text mode, the only one this interpreter has.
    std::uint8_t Mode = 5;
    TPDFDictionary* PageObject = nullptr;
    TPDFMatrix Ctm;
    double Resolution = 72;
    // The page box RunPage found: the inherited CropBox, else MediaBox, else 0 0 612 792.
    std::array<double, 4> PageBox{0, 0, 612, 792};
    // The page's inherited Rotate that RunPage found, as 0, 90, 180 or 270.
    int PageRotation = 0;

    // Uses the funnel from now on without owning it (the own funnel is freed).
    void AttachFunnel(TPDFTextFunnel* funnel);
    // Hands every shown glyph to `sink` (not owned) instead of making funnel runs; nullptr
    // goes back to the funnel.
    void AttachGlyphSink(TPDFGlyphSink* sink) { FGlyphSink = sink; }
    TPDFTextFunnel& Funnel() { return *FFunnel; }

    // Clears the funnel and interprets PageObject from the identity matrix at 72 dpi: run
    // positions come out in default user space, unrotated.
    void RunPage();
    // Interprets one content object: a page dictionary (its Contents, then its annotations) or
    // a content stream (a form or an appearance).
    void Interpret(TPDFObject* object);

    // What the last RunPage skipped because of the bounds above (for tests and measurements).
    std::uint64_t InterpretedBytes() const { return FInterpreted; }
    std::uint64_t SkippedForms() const { return FSkippedForms; }

private:
    class TInterpretation;
    friend class TInterpretation;

    // A form's or appearance's content, decoded once per run, with its tokens once it is drawn
    // a second time.
    struct TContent {
        std::string Data;
        std::unique_ptr<std::vector<TContentToken>> Tokens;
        int Uses = 0;
    };
    // Token lists of one run take at most this much memory; forms past it are cut into tokens
    // at every drawing.
    static constexpr std::size_t kTokenBudget = std::size_t{64} << 20;

    TContent& DecodedContent(const TPDFStream* stream);
    // A reference read from text ("12 0 R") in a store, made once per run and per text.
    const TPDFIndRef* ReferenceFromText(TPDFStructure* store, std::string_view text);
    // Whether another form or appearance may be interpreted now; counts the skips.
    bool MayEnter(const TPDFStream* stream);
    void InterpretStream(TPDFStream* stream);
    void InterpretAnnotations(TPDFDictionary* page);

    TPDFFontCollection& FFonts;
    std::unique_ptr<TPDFTextFunnel> FOwnFunnel;
    TPDFTextFunnel* FFunnel = nullptr;
    TPDFGlyphSink* FGlyphSink = nullptr;
    TPDFDictionary* FFormResources = nullptr;
    TPDFStructure* FStructure = nullptr;

    std::vector<const TPDFStream*> FChain; // streams being interpreted, outermost first
    std::uint64_t FInterpreted = 0;
    std::uint64_t FSkippedForms = 0;
    std::size_t FSavedStates = 0;
    std::size_t FOperands = 0;
    std::unordered_map<const TPDFStream*, TContent> FDecoded;
    std::size_t FTokenBytes = 0;
    std::unordered_map<std::string, std::unique_ptr<TPDFIndRef>> FTextReferences;
    TPDFStructure* FTextReferenceStore = nullptr;
};

} // namespace korvel
