#include "text/uPDFRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "file/uPDFExtra.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFFontRasterizer.h"
#include "text/uPDFContentTokens.h"
#include "text/uPDFExtractor.h"
#include "text/uPDFGlyphSink.h"
#include "text/uPDFTextFunnel.h"

namespace korvel {

namespace {

using TToken = TContentToken;

// ---------------------------------------------------------------------------------------------
// Values

TPDFMatrix translation(double x, double y) {
    return {1, 0, 0, 1, x, y};
}

std::int32_t wrapToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::int32_t rgbColour(double r, double g, double b) {
    const auto channel = [](double v) {
        return std::int64_t{RoundToInt32(255 * std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0))};
    };
    return wrapToInt32(channel(r) + 256 * channel(g) + 65536 * channel(b));
}

std::string colourText(std::int32_t colour) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto bits = static_cast<std::uint32_t>(colour);
    std::string text = "#";
    for (const int shift : {0, 8, 16}) { // red, green, blue
        const std::uint32_t channel = (bits >> shift) & 255;
        text += kDigits[channel >> 4];
        text += kDigits[channel & 15];
    }
    return text;
}

const TPDFArray* numberArray(TPDFObject* value, int count) {
    const TPDFArray* array = AsArray(value);
    if (!array || array->Count() != count)
        return nullptr;
    for (TPDFObject* item : array->Items()) {
        const TPDFObject* resolved = item;
        if (const auto* ref = Cast<TPDFIndRef>(item))
            resolved = ref->Resolve();
        if (!Cast<TPDFNumeric>(resolved))
            return nullptr;
    }
    return array;
}

double numberAt(const TPDFArray* array, int index) {
    TPDFObject* item = array->Item(index);
    if (auto* ref = Cast<TPDFIndRef>(item))
        item = ref->Resolve();
    return AsNumber(item);
}

// The value of the first dictionary up the Parent chain that has the key, resolved.
TPDFObject* inheritedValue(TPDFDictionary* dict, std::string_view key) {
    std::unordered_set<const TPDFDictionary*> seen;
    while (dict) {
        if (dict->IndexOfKey(key) >= 0)
            return dict->Get(key);
        if (!seen.insert(dict).second)
            return nullptr;
        dict = AsDictionary(dict->Get("Parent"));
    }
    return nullptr;
}

TPDFColourSpace deviceSpace(std::string_view name, TPDFColourSpace otherwise) {
    if (name == "DeviceRGB")
        return TPDFColourSpace::DeviceRGB;
    if (name == "DeviceGray")
        return TPDFColourSpace::DeviceGray;
    if (name == "DeviceCMYK")
        return TPDFColourSpace::DeviceCMYK;
    return otherwise;
}

} // namespace

std::string_view ColourSpaceName(TPDFColourSpace space) {
    switch (space) {
    case TPDFColourSpace::DeviceGray:
        return "DeviceGray";
    case TPDFColourSpace::DeviceRGB:
        return "DeviceRGB";
    case TPDFColourSpace::DeviceCMYK:
        return "DeviceCMYK";
    case TPDFColourSpace::Separation:
        return "Separation";
    case TPDFColourSpace::Other:
        break;
    }
    return "Other";
}

// ---------------------------------------------------------------------------------------------
// One interpretation: one content object with its own graphics state, state stack, operand
// stack and width table.

class TPDFRenderer::TInterpretation {
public:
    TInterpretation(TPDFRenderer& renderer, TPDFDictionary* resources, std::string_view content,
                    TPDFStructure* store, const std::vector<TToken>* tokens = nullptr)
        : R(renderer), FResources(resources), FStore(store), FLexer(content, tokens) {
        FWidths.fill(0);
        State.CtmCopy = R.Ctm;
        if (R.FSavedStates < kMaxSavedStates) {
            FStack.push_back(State);
            ++R.FSavedStates;
        }
    }
    ~TInterpretation() {
        R.FSavedStates -= FStack.size();
        R.FOperands -= FOperands.size();
    }
    TInterpretation(const TInterpretation&) = delete;
    TInterpretation& operator=(const TInterpretation&) = delete;

    void Run();

    TPDFGraphicsState State;

private:
    // Operands
    void Push(TToken token) {
        if (R.FOperands >= kMaxOperands) {
            const std::size_t drop = (FOperands.size() + 1) / 2;
            if (drop == 0)
                return;
            FOperands.erase(FOperands.begin(),
                            FOperands.begin() + static_cast<std::ptrdiff_t>(drop));
            R.FOperands -= drop;
        }
        FOperands.push_back(token);
        ++R.FOperands;
    }
    std::string_view TakeText() {
        if (FOperands.empty())
            return {};
        const TToken token = FOperands.back();
        FOperands.pop_back();
        --R.FOperands;
        return FLexer.View(token);
    }
    double TakeNumber() { return NumberFromText(TakeText()); }
    TPDFMatrix TakeMatrix() {
        TPDFMatrix m;
        m.f = TakeNumber();
        m.e = TakeNumber();
        m.d = TakeNumber();
        m.c = TakeNumber();
        m.b = TakeNumber();
        m.a = TakeNumber();
        return m;
    }
    void Discard(int count) {
        for (int i = 0; i < count; ++i)
            TakeText();
    }

    void Execute(TOp op);
    void Save();
    void Restore();
    void ApplyExtGState(std::string_view name);
    void DrawXObject(std::string_view name);
    std::int32_t TakeColour(TPDFColourSpace space, std::int32_t current);
    TPDFColourSpace ResolveSpace(std::string_view operand);
    void GatherArray();
    void Dash();
    void SetFontName(std::string_view name) { State.FontName.assign(name.substr(0, 50)); }
    void SelectCurrentFont();
    void UseRecord(const TPDFFontCollectionData* record);
    void ShowText();
    void NextLine() {
        State.LineMatrix = MatrixMultiply(translation(0, -State.Leading), State.LineMatrix);
        State.TextMatrix = State.LineMatrix;
    }
    void MoveLine(double tx, double ty) {
        State.LineMatrix = MatrixMultiply(translation(tx, ty), State.LineMatrix);
        State.TextMatrix = State.LineMatrix;
    }

    TPDFRenderer& R;
    TPDFDictionary* FResources;
    TPDFStructure* FStore;
    TTokenSource FLexer;
    std::vector<TPDFGraphicsState> FStack;
    std::size_t FOverflow = 0; // saves beyond the cap, each matched by a Q that only uncounts
    std::vector<TToken> FOperands;
    std::int64_t FElementCount = 0;
    TPDFWidths FWidths;
    // The record FWidths were copied from (pointer and serial: a dropped record's address may
    // come back for another font).
    const TPDFFontCollectionData* FWidthsFrom = nullptr;
    std::uint64_t FWidthsSerial = 0;
    // The font reference or direct font dictionary the last FontName led to, so that showing
    // after showing in one font looks the name up once.
    std::string FLastFontName;
    const TPDFIndRef* FLastFontRef = nullptr;
    const TPDFDictionary* FLastFontHolder = nullptr;
    const TPDFDictionary* FLastFontDirect = nullptr;
    bool FLastFontValid = false;
    std::string FPendingWord;
};

void TPDFRenderer::TInterpretation::Run() {
    TToken token;
    while (FLexer.Next(token)) {
        const auto op = static_cast<TOp>(token.Op);
        if (op == TOp::None)
            Push(token);
        else
            Execute(op);
    }
}

void TPDFRenderer::TInterpretation::Execute(TOp op) {
    switch (op) {
    case TOp::None:
        break;
    case TOp::Save:
        Save();
        break;
    case TOp::Restore:
        Restore();
        break;
    case TOp::Concat:
        R.Ctm = MatrixMultiply(TakeMatrix(), R.Ctm);
        State.CtmCopy = R.Ctm;
        break;
    case TOp::ExtGState:
        ApplyExtGState(TakeText());
        break;
    case TOp::XObject:
        DrawXObject(TakeText());
        break;
    case TOp::FillRGB:
    case TOp::FillCMYK:
    case TOp::FillGray:
        State.FillSpace = op == TOp::FillRGB    ? TPDFColourSpace::DeviceRGB
                          : op == TOp::FillCMYK ? TPDFColourSpace::DeviceCMYK
                                                : TPDFColourSpace::DeviceGray;
        State.FillColour = TakeColour(State.FillSpace, State.FillColour);
        break;
    case TOp::StrokeRGB:
    case TOp::StrokeCMYK:
    case TOp::StrokeGray:
        State.StrokeSpace = op == TOp::StrokeRGB    ? TPDFColourSpace::DeviceRGB
                            : op == TOp::StrokeCMYK ? TPDFColourSpace::DeviceCMYK
                                                    : TPDFColourSpace::DeviceGray;
        State.StrokeColour = TakeColour(State.StrokeSpace, State.StrokeColour);
        break;
    case TOp::FillColour:
        State.FillColour = TakeColour(State.FillSpace, State.FillColour);
        break;
    case TOp::StrokeColour:
        State.StrokeColour = TakeColour(State.StrokeSpace, State.StrokeColour);
        break;
    case TOp::FillSpace:
        State.FillSpace = ResolveSpace(TakeText());
        break;
    case TOp::StrokeSpace:
        State.StrokeSpace = ResolveSpace(TakeText());
        break;
    case TOp::LineWidth: {
        const double width = TakeNumber();
        State.LineWidth = width == 0 ? 72 / R.Resolution : width;
        break;
    }
    case TOp::LineCap:
        State.LineCap = RoundToInt32(TakeNumber());
        break;
    case TOp::LineJoin:
        State.LineJoin = RoundToInt32(TakeNumber());
        break;
    case TOp::Dash:
        Dash();
        break;
    case TOp::Point: {
        const double y = TakeNumber();
        State.CurrentPoint = {TakeNumber(), y};
        break;
    }
    case TOp::Curve6:
        Discard(6);
        break;
    case TOp::Curve4:
        Discard(4);
        break;
    case TOp::Nothing:
        break;
    case TOp::Tf: {
        State.FontSize = TakeNumber();
        SetFontName(TakeText());
        SelectCurrentFont();
        break;
    }
    case TOp::BT:
        State.TextMatrix = State.LineMatrix = TPDFMatrix{};
        break;
    case TOp::Tm:
        State.TextMatrix = State.LineMatrix = TakeMatrix();
        break;
    case TOp::Td: {
        const double ty = TakeNumber();
        MoveLine(TakeNumber(), ty);
        break;
    }
    case TOp::TD: {
        const double ty = TakeNumber();
        const double tx = TakeNumber();
        State.Leading = -ty;
        MoveLine(tx, ty);
        break;
    }
    case TOp::TStar:
        NextLine();
        break;
    case TOp::Tz:
        State.HorizontalScale = TakeNumber();
        break;
    case TOp::Ts:
        State.Rise = TakeNumber();
        break;
    case TOp::Tr:
        State.RenderMode = RoundToInt32(TakeNumber());
        break;
    case TOp::Tc:
        State.CharSpacing = TakeNumber();
        break;
    case TOp::Tw:
        State.WordSpacing = TakeNumber();
        break;
    case TOp::TL:
        State.Leading = TakeNumber();
        break;
    case TOp::Tj:
        FElementCount = 1;
        ShowText();
        break;
    case TOp::Quote:
        NextLine();
        FElementCount = 1;
        ShowText();
        break;
    case TOp::TJ:
        if (FElementCount > 0)
            ShowText();
        break;
    case TOp::Array:
        GatherArray();
        break;
    case TOp::InlineImage:
        FLexer.SkipInlineImage();
        break;
    case TOp::Shading:
        TakeText();
        break;
    }
}

void TPDFRenderer::TInterpretation::Save() {
    if (R.FSavedStates >= kMaxSavedStates) {
        ++FOverflow;
        return;
    }
    FStack.push_back(State);
    ++R.FSavedStates;
}

void TPDFRenderer::TInterpretation::Restore() {
    if (FOverflow > 0) {
        --FOverflow; // its save was never made: there is nothing to restore
    } else if (!FStack.empty()) {
        State = std::move(FStack.back());
        FStack.pop_back();
        --R.FSavedStates;
    }
    R.Ctm = State.CtmCopy;
    SelectCurrentFont();
}

void TPDFRenderer::TInterpretation::ApplyExtGState(std::string_view name) {
    if (!FResources || name.empty())
        return;
    const TPDFDictionary* states = AsDictionary(FResources->Get("ExtGState"));
    const TPDFDictionary* params = states ? AsDictionary(states->Get(name.substr(1))) : nullptr;
    if (!params)
        return;
    const std::string type = params->GetTypeName();
    if (!type.empty() && type != "ExtGState")
        return;
    if (const auto* width = Cast<TPDFNumeric>(params->Get("LW")))
        State.LineWidth = width->Value;
    if (const auto* cap = Cast<TPDFNumeric>(params->Get("LC")))
        State.LineCap = cap->IntValue();
    if (const auto* join = Cast<TPDFNumeric>(params->Get("LJ")))
        State.LineJoin = join->IntValue();
    if (const TPDFArray* font = AsArray(params->Get("Font")); font && font->Count() == 2) {
        const auto* ref = Cast<TPDFIndRef>(font->Item(0));
        TPDFObject* size = font->Item(1);
        if (auto* sizeRef = Cast<TPDFIndRef>(size))
            size = sizeRef->Resolve();
        if (ref && Cast<TPDFNumeric>(size)) {
            std::string text;
            text += std::to_string(ref->RefObjNum());
            text += ' ';
            text += std::to_string(ref->RefGenNum());
            text += " R";
            SetFontName(text);
            State.FontSize = AsNumber(size);
        }
    }
    if (const auto* alpha = Cast<TPDFNumeric>(params->Get("CA")))
        State.StrokeAlpha = alpha->Value;
    if (const auto* alpha = Cast<TPDFNumeric>(params->Get("ca")))
        State.FillAlpha = alpha->Value;
}

void TPDFRenderer::TInterpretation::DrawXObject(std::string_view name) {
    // The graphics state is saved around the drawing. The form runs with a state of its own,
    // so the saved copy would come back unchanged: only its place under the cap is taken.
    const bool counted = R.FSavedStates < kMaxSavedStates;
    if (counted)
        ++R.FSavedStates;
    struct TRelease {
        TPDFRenderer& R;
        bool Counted;
        ~TRelease() {
            if (Counted)
                --R.FSavedStates;
        }
    } release{R, counted};

    const TPDFDictionary* xobjects =
        FResources ? AsDictionary(FResources->Get("XObject")) : nullptr;
    if (xobjects && !name.empty() && name.front() == '/') {
        TPDFStream* stream = AsStream(xobjects->Get(name.substr(1)));
        const TPDFName* subtype =
            stream && stream->Dictionary() ? AsName(stream->Dictionary()->Get("Subtype")) : nullptr;
        if (subtype && subtype->Value() == "Form") {
            if (const TPDFArray* matrix = numberArray(stream->Dictionary()->Get("Matrix"), 6))
                R.Ctm =
                    MatrixMultiply({numberAt(matrix, 0), numberAt(matrix, 1), numberAt(matrix, 2),
                                    numberAt(matrix, 3), numberAt(matrix, 4), numberAt(matrix, 5)},
                                   R.Ctm);
            R.FFormResources = FResources;
            R.InterpretStream(stream);
        }
    }
    R.Ctm = State.CtmCopy;
}

std::int32_t TPDFRenderer::TInterpretation::TakeColour(TPDFColourSpace space,
                                                       std::int32_t current) {
    switch (space) {
    case TPDFColourSpace::DeviceRGB: {
        const double b = TakeNumber();
        const double g = TakeNumber();
        return rgbColour(TakeNumber(), g, b);
    }
    case TPDFColourSpace::DeviceCMYK: {
        const double k = TakeNumber();
        const double y = TakeNumber();
        const double m = TakeNumber();
        const double c = TakeNumber();
        const auto channel = [k](double v) { return 1 - std::min(1.0, k + (1 - k) * v); };
        return rgbColour(channel(c), channel(m), channel(y));
    }
    case TPDFColourSpace::DeviceGray:
        // Not clamped: a gray outside 0..1 spills into the other channels.
        return wrapToInt32(std::int64_t{RoundToInt32(255 * TakeNumber())} * 65793);
    case TPDFColourSpace::Separation:
        TakeNumber(); // the tint; separation colours read as black
        return 0;
    case TPDFColourSpace::Other:
        break;
    }
    return current;
}

TPDFColourSpace TPDFRenderer::TInterpretation::ResolveSpace(std::string_view operand) {
    if (operand == "/DeviceRGB")
        return TPDFColourSpace::DeviceRGB;
    if (operand == "/DeviceGray")
        return TPDFColourSpace::DeviceGray;
    if (operand == "/DeviceCMYK")
        return TPDFColourSpace::DeviceCMYK;
    if (!FResources || operand.empty())
        return TPDFColourSpace::DeviceRGB;
    const TPDFDictionary* spaces = AsDictionary(FResources->Get("ColorSpace"));
    TPDFObject* value = spaces ? spaces->Get(operand.substr(1)) : nullptr;
    if (const TPDFName* name = AsName(value)) // a resource naming a device space
        return deviceSpace(name->Value(), TPDFColourSpace::DeviceRGB);
    const TPDFArray* array = AsArray(value);
    const TPDFName* family = array && array->Count() > 0 ? AsName(array->Item(0)) : nullptr;
    if (!family)
        return TPDFColourSpace::DeviceRGB;
    if (family->Value() == "Separation")
        return TPDFColourSpace::Separation;
    if (family->Value() == "ICCBased" && array->Count() > 1) {
        TPDFObject* item = array->Item(1);
        if (auto* ref = Cast<TPDFIndRef>(item))
            item = ref->Resolve();
        if (const TPDFStream* profile = AsStream(item); profile && profile->Dictionary()) {
            TPDFObject* alternate = profile->Dictionary()->Get("Alternate");
            if (const TPDFArray* list = AsArray(alternate); list && list->Count() > 0)
                alternate = list->Item(0);
            if (const TPDFName* name = AsName(alternate))
                return deviceSpace(name->Value(), TPDFColourSpace::Other);
            // Without an alternate the profile's component count names the device space.
            switch (profile->Dictionary()->GetInteger("N", 0)) {
            case 1:
                return TPDFColourSpace::DeviceGray;
            case 4:
                return TPDFColourSpace::DeviceCMYK;
            default:
                break;
            }
        }
    }
    return TPDFColourSpace::DeviceRGB;
}

void TPDFRenderer::TInterpretation::GatherArray() {
    FElementCount = 0;
    TToken token;
    while (FLexer.Next(token)) {
        if (FLexer.View(token) == "]")
            return;
        Push(token);
        ++FElementCount;
    }
}

void TPDFRenderer::TInterpretation::Dash() {
    TakeNumber(); // the phase
    const std::int64_t count = std::min<std::int64_t>(FElementCount, FOperands.size());
    std::vector<double> elements;
    for (std::int64_t i = 0; i < count; ++i) {
        const double value = TakeNumber();
        if (i >= count - static_cast<std::int64_t>(TPDFGraphicsState::kMaxDashElements))
            elements.push_back(value); // taken last first
    }
    std::reverse(elements.begin(), elements.end());
    State.DashCount = static_cast<std::uint8_t>(elements.size());
    std::copy(elements.begin(), elements.end(), State.DashArray.begin());
    FElementCount = 0;
}

void TPDFRenderer::TInterpretation::UseRecord(const TPDFFontCollectionData* record) {
    if (!record)
        return;
    if (record != FWidthsFrom || record->Serial != FWidthsSerial) {
        FWidths = record->Widths;
        FWidthsFrom = record;
        FWidthsSerial = record->Serial;
    }
}

void TPDFRenderer::TInterpretation::SelectCurrentFont() {
    const std::string& name = State.FontName;
    if (name.size() > 2 && name.compare(name.size() - 2, 2, " R") == 0) {
        UseRecord(R.FFonts.Select(R.ReferenceFromText(FStore, name)));
        return;
    }
    // A resource name is looked up once until the name changes.
    if (!FLastFontValid || name != FLastFontName) {
        FLastFontRef = nullptr;
        FLastFontHolder = FLastFontDirect = nullptr;
        if (FResources && !name.empty() && name.front() == '/')
            if (const TPDFDictionary* fonts = AsDictionary(FResources->Get("Font"))) {
                TPDFObject* entry = fonts->Get(std::string_view(name).substr(1), false);
                FLastFontRef = Cast<TPDFIndRef>(entry);
                if ((FLastFontDirect = Cast<TPDFDictionary>(entry)))
                    FLastFontHolder = fonts;
            }
        FLastFontName = name;
        FLastFontValid = true;
    }
    if (FLastFontRef)
        UseRecord(R.FFonts.Select(FLastFontRef));
    else if (FLastFontDirect)
        UseRecord(R.FFonts.SelectDirect(FLastFontHolder, std::string_view(FLastFontName).substr(1),
                                        FLastFontDirect));
}

void TPDFRenderer::TInterpretation::ShowText() {
    const std::int64_t count = FElementCount;
    FElementCount = 0;
    if (State.FontSize == 0 || count < 0 || static_cast<std::uint64_t>(count) > FOperands.size())
        return;
    SelectCurrentFont();
    TPDFFontCollection& fonts = R.FFonts;
    const TPDFFontCollectionData& font = fonts.Current();
    const auto* type3 = dynamic_cast<const TPDFType3Rasterizer*>(font.Program.get());
    const double unit = type3 ? 1 : 1000;
    const double size = std::fabs(State.FontSize);

    TPDFMatrix matrix = MatrixMultiply(State.TextMatrix, R.Ctm);
    if (type3) {
        const auto& fm = type3->FontMatrix;
        matrix = MatrixMultiply({fm[0], fm[1], fm[2], fm[3], fm[4], fm[5]}, matrix);
    }
    matrix = MatrixMultiply(
        {State.FontSize * State.HorizontalScale / 100 / unit, 0, 0, State.FontSize / unit, 0, 0},
        matrix);
    // The size on the page is that of one text-space unit upward. (Measured in glyph space,
    // a Type 3 font's size would shrink by its font matrix: 0.012 for a 12-point font.)
    const TPDFMatrix textSpace =
        MatrixMultiply({State.FontSize * State.HorizontalScale / 100, 0, 0, State.FontSize, 0, 0},
                       MatrixMultiply(State.TextMatrix, R.Ctm));
    const TPDFPoint origin = TransformPoint(textSpace, 0, 0);
    const TPDFPoint up = TransformPoint(textSpace, 0, 1);

    TextRun run;
    run.Matrix = matrix;
    run.Height = font.Ascent - font.Descent;
    run.Bottom = font.Descent + State.Rise * unit / size;
    run.Size = std::hypot(up.x - origin.x, up.y - origin.y);
    run.FontName = font.FontName;
    run.Colour = colourText(State.FillColour);

    TPDFTextFunnel& funnel = *R.FFunnel;
    TPDFGlyphSink* const sink = R.FGlyphSink;
    const bool words = !sink && funnel.WordMode;
    const double scale = fonts.ProgramScale();
    const double programScale = scale != 0 ? scale : 1;
    // Glyph units in a unit of text space. The records count a Type 3 font's spacing and
    // adjustments as if its glyph space were text space; glyphs are placed where the page
    // shows them, through the font matrix.
    double perTextUnit = unit;
    if (sink && type3 && std::isfinite(type3->FontMatrix[0]) && type3->FontMatrix[0] != 0)
        perTextUnit = 1 / type3->FontMatrix[0];
    const double charSpacing = State.CharSpacing * perTextUnit / size;
    const double wordSpacing = State.WordSpacing * perTextUnit / size;
    // Glyph positions: glyph units along the baseline, the rise above it.
    const double riseUnits = State.Rise * perTextUnit / size;
    // Composite fonts on the glyph road read their codes through their Encoding CMap; vertical
    // ones advance down the page (`advance` then runs downwards).
    const TPDFCodeMap* codeMap = sink ? font.CodeMap.get() : nullptr;
    const bool vertical = codeMap && codeMap->Vertical();
    TPDFShownGlyph shown;
    shown.Vertical = vertical;
    shown.Up = up;
    // Ascent and descent as shares of the size on the page, whatever the glyph units are.
    const double unitUp = run.Size > 0 ? std::hypot(matrix.c, matrix.d) / run.Size : 0;
    shown.Ascent = font.Ascent * unitUp;
    shown.Descent = font.Descent * unitUp;
    shown.RenderMode = State.RenderMode;
    shown.FontName = font.FontName;
    const auto addRun = [&](std::string& text, double start, double width) {
        if (sink) {
            text.clear();
            return;
        }
        run.Text = std::move(text);
        run.Start = start;
        run.Width = width;
        funnel.AddRun(run);
        text.clear();
    };

    double advance = 0; // D, in glyph units
    std::string stringText;
    const std::size_t first = FOperands.size() - static_cast<std::size_t>(count);
    for (std::size_t i = first; i < FOperands.size(); ++i) {
        const std::string_view element = FLexer.View(FOperands[i]);
        if (element.empty() || (element.front() != '(' && element.front() != '<')) {
            if (vertical)
                advance += NumberFromText(element) * perTextUnit / 1000;
            else
                advance -= NumberFromText(element) * perTextUnit / 1000;
            continue;
        }
        const std::string bytes =
            element.front() == '(' ? ParseLiteralToken(element) : ParseHexToken(element);
        double start = advance;
        FPendingWord.clear();
        stringText.clear();
        // `drawn` is the glyph's own width, `width` with the character and word spacing.
        const auto takeCode = [&](std::string_view text, double width, double drawn) {
            if (sink) {
                shown.Text = text;
                if (vertical) {
                    shown.Origin = TransformPoint(matrix, 0, -advance);
                    shown.End = TransformPoint(matrix, 0, -(advance + drawn));
                } else {
                    shown.Origin = TransformPoint(matrix, advance, riseUnits);
                    shown.End = TransformPoint(matrix, advance + drawn, riseUnits);
                }
                shown.Up = {shown.Origin.x + up.x - origin.x, shown.Origin.y + up.y - origin.y};
                sink->AddGlyph(shown);
                advance += width;
                return;
            }
            // A string's text cannot outgrow what the funnel keeps at most, however many
            // bytes a code's text has.
            const bool room = FPendingWord.size() + stringText.size() < TPDFTextFunnel::kMaxText;
            if (words) {
                if (text == " " && !FPendingWord.empty()) {
                    addRun(FPendingWord, start, advance - start);
                    funnel.SetJoinAllowed(false);
                    start = advance + width;
                } else if (room) {
                    FPendingWord += text;
                }
            } else if (room) {
                stringText += text;
            }
            advance += width;
        };
        if (codeMap) {
            std::string codeText;
            for (std::size_t k = 0; k < bytes.size();) {
                const TPDFCode code = codeMap->Next(bytes, k);
                k += code.Length;
                const std::optional<std::uint32_t> cid = codeMap->CID(code);
                const double drawn =
                    vertical ? font.VerticalAdvance : fonts.CIDWidth(cid.value_or(0));
                double width = vertical ? drawn - charSpacing : drawn + charSpacing;
                if (code.Length == 1 && code.Value == 32)
                    width += vertical ? -wordSpacing : wordSpacing;
                codeText.clear();
                if (!font.CodeUnicode || !font.CodeUnicode->AppendText(codeText, code.Value))
                    if (font.CIDUnicode && cid)
                        font.CIDUnicode->AppendText(codeText, *cid);
                takeCode(codeText, width, drawn);
            }
        } else if (font.IsTwoByte) {
            for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
                const auto code =
                    static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[k]) << 8) |
                                               static_cast<unsigned char>(bytes[k + 1]));
                const double drawn = fonts.CIDWidth(code);
                const double width = fonts.CIDWidthListed(code) ? drawn + charSpacing : drawn;
                if (words && code < 256) {
                    takeCode(font.Text[code], width, drawn);
                } else {
                    const std::optional<std::string> text = fonts.ToUnicodeText(code);
                    takeCode(text ? std::string_view(*text) : std::string_view(), width, drawn);
                }
            }
        } else {
            for (const char ch : bytes) {
                const auto code = static_cast<unsigned char>(ch);
                const double drawn = FWidths[code] / programScale;
                double width = drawn + charSpacing;
                if (code == 32)
                    width += wordSpacing;
                takeCode(font.Text[code], width, drawn);
            }
        }
        funnel.SetJoinAllowed(true);
        addRun(words ? FPendingWord : stringText, start, advance - start);
    }
    // The advance is not scaled horizontally. A Type 3 advance is in glyph space, which its
    // font matrix takes to text space.
    if (vertical) {
        State.TextMatrix = MatrixMultiply(translation(0, -size * advance / unit), State.TextMatrix);
        return;
    }
    const double textAdvance = type3 ? advance * type3->FontMatrix[0] : advance / unit;
    State.TextMatrix = MatrixMultiply(translation(size * textAdvance, 0), State.TextMatrix);
}

// ---------------------------------------------------------------------------------------------
// The interpreter

TPDFRenderer::TPDFRenderer(TPDFFontCollection& fonts)
    : FFonts(fonts), FOwnFunnel(std::make_unique<TPDFTextFunnel>()), FFunnel(FOwnFunnel.get()) {}

TPDFRenderer::~TPDFRenderer() = default;

void TPDFRenderer::AttachFunnel(TPDFTextFunnel* funnel) {
    if (!funnel)
        return;
    FOwnFunnel.reset();
    FFunnel = funnel;
}

void TPDFRenderer::RunPage() {
    if (!PageObject)
        return;
    PageBox = {0, 0, 612, 792};
    TPDFObject* box = inheritedValue(PageObject, "CropBox");
    if (!numberArray(box, 4))
        box = inheritedValue(PageObject, "MediaBox");
    if (const TPDFArray* array = numberArray(box, 4))
        for (int i = 0; i < 4; ++i)
            PageBox[static_cast<std::size_t>(i)] = numberAt(array, i);
    PageRotation = 0;
    const double rotate = AsNumber(inheritedValue(PageObject, "Rotate"), 0);
    if (std::isfinite(rotate) && std::fabs(rotate) < 1e9) {
        const double turns = std::fmod(std::round(rotate / 90), 4);
        PageRotation = (static_cast<int>(turns) + 4) % 4 * 90;
    }
    FFunnel->Clear();
    Resolution = 72;
    Ctm = TPDFMatrix{};
    FFormResources = nullptr;
    FInterpreted = 0;
    FSkippedForms = 0;
    FDecoded.clear();
    FTokenBytes = 0;
    Interpret(PageObject);
}

void TPDFRenderer::Interpret(TPDFObject* object) {
    if (TPDFStream* stream = AsStream(object)) {
        InterpretStream(stream);
        return;
    }
    TPDFDictionary* page = AsDictionary(object);
    if (!page)
        return;
    TPDFDictionary* resources = AsDictionary(inheritedValue(page, "Resources"));
    FStructure = page->Owner;
    // The page's own Contents; the streams of an array each begin with a space so that the
    // last token of one never runs into the first of the next. Past the budget nothing more
    // is read: a page cannot make memory grow by listing one stream many times.
    std::string content;
    TPDFObject* contents = page->Get("Contents");
    if (const TPDFStream* single = AsStream(contents)) {
        content = single->DecodedData();
    } else if (const TPDFArray* list = AsArray(contents)) {
        for (TPDFObject* item : list->Items()) {
            if (content.size() >= kContentBudget)
                break;
            if (auto* ref = Cast<TPDFIndRef>(item))
                item = ref->Resolve();
            if (const TPDFStream* part = AsStream(item)) {
                content += ' ';
                content += part->DecodedData();
            }
        }
    }
    if (content.size() > kContentBudget)
        content.resize(kContentBudget);
    FInterpreted += content.size() + kInterpretationCharge;
    const TPDFMatrix start = Ctm;
    {
        TInterpretation run(*this, resources, content, FStructure);
        run.Run();
    }
    // Appearances are placed in the page's space, whatever matrix the content left behind.
    Ctm = start;
    InterpretAnnotations(page);
}

bool TPDFRenderer::MayEnter(const TPDFStream* stream) {
    if (FChain.size() >= static_cast<std::size_t>(kMaxFormDepth) ||
        std::find(FChain.begin(), FChain.end(), stream) != FChain.end() ||
        FInterpreted >= kContentBudget) {
        ++FSkippedForms;
        return false;
    }
    return true;
}

TPDFRenderer::TContent& TPDFRenderer::DecodedContent(const TPDFStream* stream) {
    auto it = FDecoded.find(stream);
    if (it == FDecoded.end()) {
        TContent content;
        content.Data = stream->DecodedData();
        // Offsets into content are 32-bit; nothing real comes near.
        if (content.Data.size() > kContentBudget)
            content.Data.resize(kContentBudget);
        it = FDecoded.emplace(stream, std::move(content)).first;
    }
    return it->second;
}

void TPDFRenderer::InterpretStream(TPDFStream* stream) {
    if (!stream || !MayEnter(stream))
        return;
    TPDFDictionary* dict = stream->Dictionary();
    TPDFDictionary* resources = AsDictionary(inheritedValue(dict, "Resources"));
    if (!resources && dict && dict->GetTypeName() == "XObject")
        resources = FFormResources;
    FStructure = stream->Owner;
    TContent& content = DecodedContent(stream);
    FInterpreted += content.Data.size() + kInterpretationCharge;
    // A form drawn a second time keeps its tokens for the rest of the page.
    if (++content.Uses == 2 && FTokenBytes < kTokenBudget) {
        content.Tokens = std::make_unique<std::vector<TToken>>(Tokenize(content.Data));
        FTokenBytes += content.Tokens->size() * sizeof(TToken);
    }
    FChain.push_back(stream);
    struct TPop {
        std::vector<const TPDFStream*>& Chain;
        ~TPop() { Chain.pop_back(); }
    } pop{FChain};
    TInterpretation run(*this, resources, content.Data, FStructure, content.Tokens.get());
    run.Run();
}

void TPDFRenderer::InterpretAnnotations(TPDFDictionary* page) {
    const TPDFArray* annots = AsArray(page->Get("Annots"));
    if (!annots)
        return;
    for (TPDFObject* item : annots->Items()) {
        const auto* ref = Cast<TPDFIndRef>(item);
        TPDFDictionary* annot = ref ? AsDictionary(ref->Resolve()) : nullptr;
        if (!annot)
            continue;
        const auto* flagsValue = Cast<TPDFNumeric>(annot->Get("F"));
        const std::int32_t flags = flagsValue ? flagsValue->IntValue() : 0;
        if ((flags & 2) != 0 || (flags & 32) != 0)
            continue; // hidden, or not to be viewed
        const TPDFArray* rect = numberArray(annot->Get("Rect"), 4);
        const TPDFDictionary* ap = AsDictionary(annot->Get("AP"));
        if (!rect || !ap)
            continue;
        TPDFObject* normal = ap->Get("N");
        if (const TPDFDictionary* states = AsDictionary(normal)) {
            const TPDFName* state = AsName(annot->Get("AS"));
            normal = state ? states->Get(state->Value()) : nullptr;
        }
        TPDFStream* appearance = AsStream(normal);
        if (!appearance || !appearance->Dictionary() ||
            !numberArray(appearance->Dictionary()->Get("BBox"), 4))
            continue;
        const TPDFMatrix saved = Ctm;
        Ctm = MatrixMultiply(translation(numberAt(rect, 0), numberAt(rect, 1)), Ctm);
        struct TRestore {
            TPDFMatrix& Ctm;
            TPDFMatrix Saved;
            ~TRestore() { Ctm = Saved; }
        } restore{Ctm, saved};
        InterpretStream(appearance);
    }
}

const TPDFIndRef* TPDFRenderer::ReferenceFromText(TPDFStructure* store, std::string_view text) {
    // "number generation R" with single spaces, as the graphics state writes it.
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos || text.size() < space + 3)
        return nullptr;
    std::int32_t objNum = 0, genNum = 0;
    if (!TryReadInt32(text.substr(0, space), objNum) ||
        !TryReadInt32(text.substr(space + 1, text.size() - space - 3), genNum))
        return nullptr;
    // References are kept for the run; a new store or a flood of distinct texts starts over.
    if (store != FTextReferenceStore || FTextReferences.size() >= 4096) {
        FTextReferences.clear();
        FTextReferenceStore = store;
    }
    auto& ref = FTextReferences[std::string(text)];
    if (!ref)
        ref = std::make_unique<TPDFIndRef>(store, objNum, genNum);
    return ref.get();
}

} // namespace korvel
