#include "text/uPDFExtractor.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>

#include "file/uPDFErrors.h"
#include "file/uPDFExtra.h"
#include "file/uPDFStructure.h"
#include "fonts/uPDFFontConst.h"
#include "fonts/uPDFFontRasterizer.h"
#include "text/uPDFMatrix.h"

namespace korvel {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The bytes that end a plain token, for each syntax.
struct TStopTables {
    bool RawOrder[256] = {};
    bool Interpreter[256] = {};
    TStopTables() {
        for (int c = 0; c < 256; ++c) {
            const auto b = static_cast<unsigned char>(c);
            RawOrder[c] = IsWhiteSpace(b) || b == '(' || b == '<' || b == '[' || b == ']';
            Interpreter[c] = RawOrder[c] || b == '/';
        }
    }
};
const TStopTables kStops;

bool endsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() &&
           std::string_view(text).substr(text.size() - tail.size()) == tail;
}

// "#" and at least six upper-case hexadecimal digits of a 32-bit value.
std::string colourText(double r, double g, double b) {
    const std::int64_t value = std::int64_t{RoundToInt32(255 * b)} * 65536 +
                               std::int64_t{RoundToInt32(255 * g)} * 256 + RoundToInt32(255 * r);
    // A colour outside 0..1 writes as the 32-bit integer it makes, negative ones included.
    auto bits = static_cast<std::uint32_t>(value);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[bits & 15]);
        bits >>= 4;
    } while (bits != 0);
    if (digits.size() < 6)
        digits.insert(0, 6 - digits.size(), '0');
    return "#" + digits;
}

// The integer part of a value as Tm's operand text. A value between -1 and 0 keeps its sign:
// "-0" is no "0" to the scale test (the shared number writer drops that sign). Magnitudes below
// 0.00001 write as 0 either way.
std::string integerText(double value) {
    std::string text = NumberToText(0, 0, value);
    if (text == "0" && value < 0 && value > -1 && value <= -0.00001)
        text = "-0";
    return text;
}

// Escaping of the text field of a record: `Tj` doubles backslashes before it escapes double
// quotes, `TJ` escapes only the quotes.
void appendEscaped(std::string& out, std::string_view text, bool doubleBackslashes) {
    for (const char c : text) {
        if (c == '\\' && doubleBackslashes)
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else
            out += c;
    }
}

// The clean-up's replacements, each repeated until its pattern is gone, done in one pass: the
// text is copied forward in place and a pattern is replaced as soon as it is completed at the
// end of what was written. Both rewrites are confluent (they only shorten runs of line ends),
// so this gives what repeated replacing gives.
void collapse(std::string& text, std::string_view pattern, std::size_t drop) {
    std::size_t w = 0;
    for (std::size_t r = 0; r < text.size(); ++r) {
        text[w++] = text[r];
        if (text[r] == pattern.back() && w >= pattern.size() &&
            std::string_view(text).substr(w - pattern.size(), pattern.size()) == pattern)
            w -= drop;
    }
    text.resize(w);
}

} // namespace

void CleanUpExtractedText(std::string& text) {
    collapse(text, "\r\n \r\n", 3);    // CR LF, space, CR LF becomes CR LF
    collapse(text, "\r\n\r\n\r\n", 2); // at most one empty line in a row
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    // Control bytes and spaces go from both ends.
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= 32)
        ++first;
    std::size_t last = text.size();
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32)
        --last;
    text.erase(last);
    text.erase(0, first);
}

TPDFRawLexer::TPDFRawLexer(std::string_view content, TSyntax syntax)
    : FData(content), FStops(syntax == TSyntax::Interpreter ? kStops.Interpreter : kStops.RawOrder),
      FQuoteIsToken(syntax == TSyntax::Interpreter) {}

std::string_view TPDFRawLexer::Next() {
    const std::size_t n = FData.size();
    while (FPos < n && IsWhiteSpace(static_cast<unsigned char>(FData[FPos])))
        ++FPos;
    if (FPos >= n)
        return {};
    const std::size_t start = FPos;
    const char first = FData[FPos++];
    if (first == '(') {
        // A string that is never closed runs to the end of the content.
        std::int64_t depth = 1;
        while (FPos < n && depth > 0) {
            const char c = FData[FPos++];
            if (c == '\\')
                FPos += FPos < n ? 1 : 0;
            else if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
        }
    } else if (first == '<') {
        const std::size_t close = FData.find('>', FPos);
        FPos = close == std::string_view::npos ? n : close + 1;
    } else if (first != '[' && first != ']' && !(first == '\'' && FQuoteIsToken)) {
        while (FPos < n && !FStops[static_cast<unsigned char>(FData[FPos])])
            ++FPos;
    }
    return FData.substr(start, FPos - start);
}

// One extraction: the text state, the operand window and the operator handlers.
class TPDFExtractor::TRun {
public:
    TRun(TPDFExtractor& owner, std::string_view content, bool records, std::string& out)
        : FOwner(owner), FLexer(content), FRecords(records), FOut(out) {
        FInitialWidths.fill(750);
        // The initial tables are those of a simple font with StandardEncoding.
        FInitialText = GlyphNamesToText(BaseEncodingNames(TPDFBaseEncoding::Standard),
                                        owner.FFonts.Encoding());
        FindFirstSpace();
        if (owner.FResources)
            FontResources = AsDictionary(owner.FResources->Get("Font"));
    }

    // The tables in use may be the run's own: a run stays where it was made.
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;

    void Execute();

private:
    using THandler = void (TRun::*)();
    struct TOperator {
        std::string_view Name;
        THandler Handler;
    };
    // Rows are tried in this order; the quote operators turn into `Tj` and reach its row too.
    static const std::array<TOperator, 19> kOperators;
    // The row of an operator name, -1 for other tokens; one table read instead of a compare
    // per row. Names are one or two ASCII bytes: [first][second], second 0 for one byte.
    static int RowOf(std::string_view token) {
        using TRows = std::array<std::array<std::int8_t, 128>, 128>;
        static const TRows rows = [] {
            TRows table;
            for (auto& row : table)
                row.fill(-1);
            for (std::size_t i = 0; i < kOperators.size(); ++i) {
                const std::string_view name = kOperators[i].Name;
                table[static_cast<unsigned char>(name[0])]
                     [name.size() > 1 ? static_cast<unsigned char>(name[1]) : 0] =
                         static_cast<std::int8_t>(i);
            }
            return table;
        }();
        if (token.empty() || token.size() > 2)
            return -1;
        const auto first = static_cast<unsigned char>(token[0]);
        const auto second = token.size() > 1 ? static_cast<unsigned char>(token[1]) : 0;
        // A token of two bytes whose second is 0 is no name of the table.
        if (first >= 128 || second >= 128 || (token.size() > 1 && second == 0))
            return -1;
        return rows[first][second];
    }

    // The operand window: the last six tokens in a ring, newest at FNewest. Entries view the
    // content; `Tm` rewrites its operands into the ring's own texts.
    std::string_view Operand(int k) const { return FWindow[slot(k)]; }
    double Number(int k) const { return NumberFromText(Operand(k)); }
    std::size_t slot(int k) const { return (FNewest + 6 - static_cast<std::size_t>(k - 1)) % 6; }
    void SetOperand(int k, std::string text) {
        const std::size_t s = slot(k);
        FWindowText[s] = std::move(text);
        FWindow[s] = FWindowText[s];
    }
    void Push(std::string_view token) {
        FNewest = (FNewest + 1) % 6;
        FWindow[FNewest] = token;
    }

    bool EndsInCrLf() const { return endsWith(FOut, kCrLf); }
    double HalfSpace() const { return SpaceWidth / 2 * Scale * FontSize / 1000; }
    double TextWidth(std::string_view s) const {
        double sum = 0;
        for (const char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            sum += (*FWidths)[c] + CharSpacing;
            if (c == SpaceCode)
                sum += WordSpacing;
        }
        return FontSize * Scale * sum / 1000;
    }
    // The mapped text of the bytes: the text of each code in turn.
    void AppendMapped(std::string_view bytes) {
        for (const char ch : bytes) {
            if (FOut.size() >= kMaxText)
                return;
            FOut += CodeText(static_cast<unsigned char>(ch));
        }
    }
    void Record(double x, std::string_view bytes, bool doubleBackslashes) {
        FOut += NumberToText(0, 2, x);
        FOut += ',';
        FOut += NumberToText(0, 2, PenY);
        FOut += ',';
        FOut += FOwner.FColour;
        FOut += ',';
        FOut += NumberToText(0, 2, FontSize);
        FOut += ",\"";
        FOut += BaseFontName;
        FOut += "\",\"";
        for (const char ch : bytes) {
            if (FOut.size() >= kMaxText)
                break;
            appendEscaped(FOut, CodeText(static_cast<unsigned char>(ch)), doubleBackslashes);
        }
        FOut += "\"\r\n";
    }
    // The line tests of Td, TD and Tm after their horizontal test: one line end for a move of
    // 1.7 half-heights, a second for 1.7 heights.
    void LineTests(double dy, double secondDy) {
        const double h = FontSize * Scale;
        if (std::fabs(dy) >= 1.7 * h / 2)
            FOut += kCrLf;
        if (secondDy >= 1.7 * h)
            FOut += kCrLf;
    }

    // Takes a selected font's tables, unless they are the ones already in use: selecting
    // the same font again gives the same tables (and the same space mark below). The tables
    // are the record's own: a record is never changed, and the one selected last (whose
    // tables these are) stays in the collection for the whole call.
    void UseTables(const TPDFFontCollectionData* record) {
        if (!record || (record == FTablesFrom && record->Serial == FTablesSerial))
            return;
        FCodeText = &record->CodeText;
        FWidths = &record->Widths;
        FSpaceAt255 = false;
        FTablesFrom = record;
        FTablesSerial = record->Serial;
        FindFirstSpace();
    }
    // The text of a code in the tables in use; code 255 may have been marked as the space.
    const std::string& CodeText(std::size_t code) const {
        static const std::string kSpace = " ";
        return code == 255 && FSpaceAt255 ? kSpace : (*FCodeText)[code];
    }
    // Only code 255 of the tables in use changes, so the first space below it is found once
    // per font taken.
    void FindFirstSpace() {
        FFirstSpace = -1;
        for (int c = 0; c < 255; ++c)
            if ((*FCodeText)[static_cast<std::size_t>(c)] == " ") {
                FFirstSpace = c;
                break;
            }
    }

    void OpArray();
    void OpRg() { FOwner.FColour = colourText(Number(3), Number(2), Number(1)); }
    void OpG() { FOwner.FColour = colourText(Number(1), Number(1), Number(1)); }
    void OpBT() { LineX = LineY = 0; }
    void OpTf();
    void OpTJ();
    void OpQuote();
    void OpTj();
    void OpTL() { Leading = Number(1) * Scale; }
    void OpTw() { WordSpacing = Number(1) * Scale; }
    void OpTc() { CharSpacing = Number(1) * Scale; }
    void OpTm();
    void OpCm() { Ctm = MatrixMultiply(OperandMatrix(), Ctm); }
    void OpSave() { SavedCtm = Ctm; }
    void OpRestore() { Ctm = SavedCtm; }
    void OpTd();
    void OpTD();
    void OpTStar();
    TPDFMatrix OperandMatrix() const {
        return {Number(6), Number(5), Number(4), Number(3), Number(2), Number(1)};
    }

    TPDFExtractor& FOwner;
    TPDFRawLexer FLexer;
    const bool FRecords;
    std::string& FOut;
    const TPDFDictionary* FontResources = nullptr;
    std::string_view FToken;
    std::array<std::string_view, 6> FWindow{};
    std::array<std::string, 6> FWindowText{};
    std::size_t FNewest = 0;

    double PenX = 0, PenY = 0;
    double LineX = 0, LineY = 0;
    double PrevX = 0, PrevY = 0;
    double ArrayStartX = 0;
    double Scale = 1;
    double FontSize = 12;
    double Leading = 0;
    double CharSpacing = 0, WordSpacing = 0;
    std::int32_t SpaceCode = 32;
    double SpaceWidth = 280;
    // The tables of the font in use: the initial ones, or a record's.
    TPDFWidths FInitialWidths;
    TPDFTextVector FInitialText;
    const TPDFWidths* FWidths = &FInitialWidths;
    const TPDFTextVector* FCodeText = &FInitialText;
    // Code 255 of the tables in use stands in as the space.
    bool FSpaceAt255 = false;
    // The first code below 255 whose text is a space; -1 when none is.
    int FFirstSpace = -1;
    const TPDFFontCollectionData* FTablesFrom = nullptr;
    std::uint64_t FTablesSerial = 0;
    std::string BaseFontName;
    TPDFMatrix Ctm, SavedCtm;
    std::string PendingString;
    std::string ArrayText;
};

const std::array<TPDFExtractor::TRun::TOperator, 19> TPDFExtractor::TRun::kOperators = {{
    {"[", &TRun::OpArray}, {"rg", &TRun::OpRg}, {"g", &TRun::OpG},      {"BT", &TRun::OpBT},
    {"Tf", &TRun::OpTf},   {"TJ", &TRun::OpTJ}, {"'", &TRun::OpQuote},  {"\"", &TRun::OpQuote},
    {"Tj", &TRun::OpTj},   {"TL", &TRun::OpTL}, {"Tw", &TRun::OpTw},    {"Tc", &TRun::OpTc},
    {"Tm", &TRun::OpTm},   {"cm", &TRun::OpCm}, {"q", &TRun::OpSave},   {"Q", &TRun::OpRestore},
    {"Td", &TRun::OpTd},   {"TD", &TRun::OpTD}, {"T*", &TRun::OpTStar},
}};

void TPDFExtractor::TRun::Execute() {
    for (;;) {
        FToken = FLexer.Next();
        if (FToken.empty() || FOut.size() >= kMaxText)
            break;
        try {
            if (FToken.front() == '(')
                PendingString = ParseLiteralToken(FToken);
            else if (FToken.front() == '<')
                PendingString = ParseHexToken(FToken);
            // A handler may turn the token into a later row's (a quote into `Tj`).
            for (int row = RowOf(FToken); row >= 0;) {
                (this->*kOperators[static_cast<std::size_t>(row)].Handler)();
                const int next = RowOf(FToken);
                row = next > row ? next : -1;
            }
        } catch (const std::exception&) {
            RethrowExhaustion();
            // The rest of this token's handling is abandoned: the pen of its start stays, and
            // it does not enter the operand window.
            continue;
        }
        PrevX = PenX;
        PrevY = PenY;
        Push(FToken);
    }
}

void TPDFExtractor::TRun::OpArray() {
    ArrayStartX = PenX;
    for (;;) {
        FToken = FLexer.Next();
        if (FToken.empty() || FToken == "]")
            return;
        const char first = FToken.front();
        if (first == '(') {
            std::string bytes = ParseLiteralToken(FToken);
            // A character spacing wider than a space spreads the string out with space codes.
            if (SpaceWidth * Scale * FontSize / 1000 < CharSpacing && bytes.size() > 1) {
                std::string spread;
                spread.reserve(bytes.size() * 2);
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    if (i > 0)
                        spread += static_cast<char>(SpaceCode);
                    spread += bytes[i];
                }
                bytes = std::move(spread);
            }
            ArrayText += bytes;
            PenX += TextWidth(bytes);
        } else if (first == '<') {
            ArrayText += ParseHexToken(FToken);
        } else if (IsNumberText(FToken)) {
            const double n = NumberFromText(FToken);
            PenX += -n * Scale * FontSize / 1000;
            if (-n > SpaceWidth / 2)
                ArrayText += static_cast<char>(SpaceCode);
        }
    }
}

void TPDFExtractor::TRun::OpTf() {
    const std::string_view o2 = Operand(2);
    const std::string name(o2.empty() ? o2 : o2.substr(1));
    if (FRecords)
        BaseFontName = FOwner.BaseFontOf(name);
    // A reference or a direct font dictionary selects a font; a missing name keeps the tables
    // of the font before.
    UseTables(FOwner.FFonts.Select(FontResources, name));
    FontSize = IsNumberText(Operand(1)) ? Number(1) : 12;

    if (CodeText(32) == " ") {
        SpaceCode = 32;
    } else {
        // A font that stops below 255 leaves code 255 unused: it stands in as the space.
        if (FOwner.FFonts.Current().LastChar < 255)
            FSpaceAt255 = true;
        // The first code whose text is a space, else 32.
        if (FFirstSpace >= 0)
            SpaceCode = FFirstSpace;
        else
            SpaceCode = CodeText(255) == " " ? 255 : 32;
    }
    const auto code = static_cast<std::size_t>(SpaceCode);
    SpaceWidth = CodeText(code) == " " && (*FWidths)[code] != 750 ? (*FWidths)[code] : 280;
}

void TPDFExtractor::TRun::OpTJ() {
    if (FRecords)
        Record(ArrayStartX, ArrayText, false);
    else
        AppendMapped(ArrayText);
    ArrayText.clear();
}

void TPDFExtractor::TRun::OpQuote() {
    // Neither quote moves the pen or sets spacing here: only the line break and the string.
    if (!FRecords && !EndsInCrLf())
        FOut += kCrLf;
    FToken = "Tj";
}

void TPDFExtractor::TRun::OpTj() {
    if (FRecords)
        Record(PenX, PendingString, true);
    else
        AppendMapped(PendingString);
    PenX += TextWidth(PendingString);
    PendingString.clear();
}

void TPDFExtractor::TRun::OpTm() {
    const TPDFMatrix m = MatrixMultiply(OperandMatrix(), Ctm);
    // The operands become the integer parts of the product: the texts the tests below read.
    const std::array<double, 6> values = {m.a, m.b, m.c, m.d, m.e, m.f};
    for (int i = 0; i < 6; ++i)
        SetOperand(6 - i, integerText(values[static_cast<std::size_t>(i)]));
    if (Operand(5) == "0" && Operand(4) == "0" && Operand(6) == Operand(3))
        Scale = Number(6);
    const bool test = !FRecords && !EndsInCrLf();
    const double x = Number(2);
    if (test && std::fabs(x - PenX) >= HalfSpace())
        FOut += ' ';
    PenX = x;
    const double y = Number(1);
    if (test)
        LineTests(y - PenY, std::fabs(y - PenY));
    PenY = y;
    LineX = PenX;
    LineY = PenY;
}

void TPDFExtractor::TRun::OpTd() {
    PenX = Number(2) * Scale + LineX;
    PenY = Number(1) * Scale + LineY;
    LineX = PenX;
    LineY = PenY;
    if (FRecords || EndsInCrLf())
        return;
    if (std::fabs(PenX - PrevX) >= HalfSpace())
        FOut += ' ';
    // Only an upward move makes an empty line.
    LineTests(PenY - PrevY, PenY - PrevY);
}

void TPDFExtractor::TRun::OpTD() {
    Leading = -Number(1) * Scale;
    PenX = Number(2) * Scale + LineX;
    PenY = LineY - Leading;
    LineX = PenX;
    LineY = PenY;
    if (FRecords || EndsInCrLf())
        return;
    const char space = static_cast<char>(SpaceCode);
    if (PenX - PrevX >= TextWidth(std::string_view(&space, 1)))
        FOut += ' ';
    LineTests(PenY - PrevY, PenY - PrevY);
}

void TPDFExtractor::TRun::OpTStar() {
    PenX = LineX;
    PenY -= Leading;
    if (!FRecords)
        FOut += kCrLf;
    LineY = PenY;
}

TPDFExtractor::TPDFExtractor(const TPDFDictionary* resources, TPDFFontCollection& fonts)
    : FResources(resources), FFonts(fonts) {}

TPDFExtractor::~TPDFExtractor() = default;

const std::string& TPDFExtractor::BaseFontOf(const std::string& name) {
    const auto found = FBaseFontIndex.find(name);
    if (found != FBaseFontIndex.end())
        return FBaseFontValues[found->second];
    std::string value;
    if (FResources)
        if (const auto* fonts = AsDictionary(FResources->Get("Font")))
            if (const auto* font = AsDictionary(fonts->Get(name)))
                if (const auto* baseFont = AsName(font->Get("BaseFont")))
                    value = baseFont->Value();
    FBaseFontIndex.emplace(name, FBaseFontKeys.size());
    FBaseFontKeys.push_back(name);
    FBaseFontValues.push_back(std::move(value));
    return FBaseFontValues.back();
}

void TPDFExtractor::ExtractText(std::string_view content, std::int32_t option, std::string& text) {
    text.clear();
    FColour = "#000000";
    TRun run(*this, content, option == 2, text);
    run.Execute();
    CleanUpExtractedText(text);
}

std::string TPDFExtractor::ExtractText(std::string_view content, std::int32_t option) {
    std::string text;
    ExtractText(content, option, text);
    return text;
}

} // namespace korvel
