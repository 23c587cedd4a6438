#include "fonts/uPDFType1.h"

#include <algorithm>
#include <utility>

#include "file/uPDFExtra.h"
#include "fonts/uPDFCFF.h"

namespace korvel {

namespace {

// ---------------------------------------------------------------------------------------------
// Stream dictionaries

// ---------------------------------------------------------------------------------------------
// Type 1 clear text

bool isSeparator(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

// Ends a name: a separator or one of the PostScript delimiters.
bool endsName(unsigned char c) {
    switch (c) {
    case '%':
    case '(':
    case ')':
    case '/':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '}':
        return true;
    default:
        return isSeparator(c);
    }
}

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The charstring procedures keep their own names so that they never read as executable names.
bool isCharStringProcedure(std::string_view text, std::size_t pos) {
    const std::string_view two = text.substr(pos, 2);
    if (two != "RD" && two != "ND" && two != "NP")
        return false;
    return pos + 2 == text.size() || endsName(static_cast<unsigned char>(text[pos + 2]));
}

// Cuts the clear text into tokens; executable names come out as "/ps:<name>". A byte that can
// start no token ends the text. Every branch moves forward, so the walk is linear.
std::vector<std::string> tokenizeType1(std::string_view text) {
    std::vector<std::string> tokens;
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto nameEnd = [&](std::size_t from) {
        while (from < n && !endsName(static_cast<unsigned char>(text[from])))
            ++from;
        return from;
    };
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isSeparator(c)) {
            ++i;
        } else if (c == '%') {
            while (i < n && text[i] != '\r' && text[i] != '\n')
                ++i;
        } else if (c == '[' || c == ']' || c == '{' || c == '}') {
            tokens.emplace_back(1, static_cast<char>(c));
            ++i;
        } else if (isCharStringProcedure(text, i)) {
            tokens.emplace_back(text.substr(i, 2));
            i += 2;
        } else if (c == '-' || c == '.' || IsDigit(c)) {
            bool dot = c == '.';
            std::size_t j = i + 1;
            for (; j < n; ++j) {
                const auto d = static_cast<unsigned char>(text[j]);
                if (d == '.' && !dot)
                    dot = true;
                else if (!IsDigit(d))
                    break;
            }
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (c == '(') {
            int depth = 1;
            std::size_t j = i + 1;
            while (j < n && depth > 0) {
                const char d = text[j];
                if (d == '\\' && j + 1 < n &&
                    (text[j + 1] == '(' || text[j + 1] == ')' || text[j + 1] == '\\')) {
                    j += 2;
                    continue;
                }
                if (d == '(')
                    ++depth;
                else if (d == ')')
                    --depth;
                ++j;
            }
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (c == '<') {
            const std::size_t close = text.find('>', i + 1);
            const std::size_t end = close == std::string_view::npos ? n : close;
            tokens.emplace_back(text.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? n : close + 1;
        } else if (c == '/') {
            const std::size_t j = nameEnd(i + 1);
            tokens.emplace_back(text.substr(i, j - i));
            i = j;
        } else if (isLetter(c)) {
            const std::size_t j = nameEnd(i);
            std::string token = "/ps:";
            token.append(text.substr(i, j - i));
            tokens.push_back(std::move(token));
            i = j;
        } else {
            break;
        }
    }
    return tokens;
}

// Rewrites the PostScript tokens into PDF object syntax in one walk. The forward searches
// (the `begin` after a `dict`, the `def` closing an encoding) use cursors that only move
// forward: no rule ever makes a token into `begin`, `def` or `readonly`, so a position passed
// once never needs another look, and the whole walk stays linear however the tokens repeat.
void rewriteType1(std::vector<std::string>& t) {
    const std::size_t n = t.size();
    std::size_t beginCursor = 0;
    std::size_t closeCursor = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::string& token = t[i];
        if (token.empty())
            continue;
        if (token == "/ps:FontDirectory") {
            std::size_t j = i;
            while (j < n && t[j] != "/ps:dict")
                t[j++].clear();
            i = j - 1; // the walk resumes at the dict
        } else if (token == "/ps:readonly" || token == "/ps:def") {
            token.clear();
        } else if (token == "/ps:end") {
            token = ">>";
        } else if (token == "{") {
            token = "[";
        } else if (token == "}") {
            token = "]";
        } else if (token == "/ps:currentdict" || token == "/ps:currentfile") {
            token.clear();
        } else if (token == "/ps:dict") {
            token.clear();
            if (i > 0)
                t[i - 1].clear();
            beginCursor = std::max(beginCursor, i + 1);
            while (beginCursor < n && t[beginCursor] != "/ps:begin")
                ++beginCursor;
            if (beginCursor < n)
                t[beginCursor] = "<<";
        } else if (token == "/Encoding" && i + 2 < n) {
            if (t[i + 1] == "/ps:StandardEncoding") {
                t[i + 1] = "/StandardEncoding";
            } else if (t[i + 2] == "/ps:array") {
                // `N array ... dup c /name put ... readonly def` becomes `[ c /name ... ]`.
                t[i + 1] = "[";
                std::size_t j = i + 2;
                while (j < n && t[j] != "/ps:dup")
                    t[j++].clear();
                if (j < n) {
                    closeCursor = std::max(closeCursor, j + 1);
                    while (closeCursor < n && t[closeCursor] != "/ps:def" &&
                           t[closeCursor] != "/ps:readonly")
                        ++closeCursor;
                    if (closeCursor + 1 < n)
                        t[closeCursor] = "]";
                }
                i = j - 1; // the walk resumes at the first dup
            }
        } else if (token == "/ps:dup" || token == "/ps:put") {
            token.clear();
        }
    }
}

} // namespace

// -------------------------------------------------------------------------------------------------

TPDFType1Decoder::TPDFType1Decoder(ResolveFn resolver)
    : TPDFFontRasterizer(std::move(resolver)), FStore(std::make_unique<TPDFStructure>()) {}

TPDFType1Decoder::~TPDFType1Decoder() = default;

void TPDFType1Decoder::LoadType1(const TPDFStream* stream) {
    if (!stream) {
        LoadType1(std::string_view(), 0, 0, 0);
        return;
    }
    const TPDFDictionary* dict = stream->Dictionary();
    const std::int64_t length1 = FontInteger(Resolver, dict, "Length1", 0);
    const std::int64_t length2 = FontInteger(Resolver, dict, "Length2", 0);
    const std::int64_t length3 = FontInteger(Resolver, dict, "Length3", 0);
    const std::string data = stream->DecodedData();
    LoadType1(data, length1, length2, length3);
}

void TPDFType1Decoder::LoadType1(std::string_view data, std::int64_t length1, std::int64_t length2,
                                 std::int64_t length3) {
    ClearText.clear();
    EncryptedPart.clear();
    Trailer.clear();
    FontBBox = nullptr;
    FStore->Reset();
    if (length1 > 0 && length2 > 0) {
        ClearText = CutBytes(data, 0, length1);
        EncryptedPart = CutBytes(data, length1, length2);
        Trailer = CutBytes(data, length1 + length2, length3);
    }
    BuiltInEncoding = BaseEncodingNames(TPDFBaseEncoding::Standard);

    const std::string text = Type1ClearTextToPDF(ClearText);
    const TPDFDictionary* dict = AsDictionary(FStore->Parse(text));
    if (!dict)
        return;
    FontBBox = AsArray(dict->Get("FontBBox", false));
    // Each name stands after its own code: `32 /space 65 /A`. A name alone keeps the
    // StandardEncoding names.
    if (const TPDFArray* encoding = AsArray(dict->Get("Encoding", false))) {
        std::int64_t code = 0;
        for (TPDFObject* item : encoding->Items()) {
            if (const auto* number = Cast<TPDFNumeric>(item))
                code = number->IntValue();
            else if (const auto* name = Cast<TPDFName>(item); name && code >= 0 && code <= 255)
                BuiltInEncoding[static_cast<std::size_t>(code)] = name->Value();
        }
    }
}

void TPDFType1Decoder::LoadCFF(const TPDFStream* stream) {
    const std::string data = stream ? stream->DecodedData() : std::string();
    LoadCFF(data);
}

void TPDFType1Decoder::LoadCFF(std::string_view data) {
    TPDFCFFContents contents = ReadCFF(data);
    BuiltInEncoding = std::move(contents.BuiltInEncoding);
    ScaleValue = contents.Scale;
    IsCIDKeyed = contents.IsCIDKeyed;
    GlyphNames = std::move(contents.GlyphNames);
}

// -------------------------------------------------------------------------------------------------

std::string Type1ClearTextToPDF(std::string_view clearText) {
    std::vector<std::string> tokens = tokenizeType1(clearText);
    rewriteType1(tokens);
    std::string text;
    text.reserve(clearText.size() + 16);
    for (const std::string& token : tokens) {
        if (token.empty())
            continue;
        if (!text.empty())
            text.push_back(' ');
        text.append(token);
    }
    return text;
}

std::string DecryptEexec(std::string_view data) {
    while (!data.empty() && isSeparator(static_cast<unsigned char>(data.front())))
        data.remove_prefix(1);
    std::string cipher;
    const bool isHex = data.size() >= 4 && std::all_of(data.begin(), data.begin() + 4, [](char c) {
                           return HexDigitValue(static_cast<unsigned char>(c)) >= 0;
                       });
    if (isHex) {
        cipher.reserve(data.size() / 2);
        int high = -1;
        for (const char c : data) {
            if (isSeparator(static_cast<unsigned char>(c)))
                continue;
            const int v = HexDigitValue(static_cast<unsigned char>(c));
            if (v < 0)
                break;
            if (high < 0) {
                high = v;
            } else {
                cipher.push_back(static_cast<char>(high * 16 + v));
                high = -1;
            }
        }
    } else {
        cipher.assign(data);
    }
    constexpr std::uint16_t kEexecKey = 55665;
    constexpr std::uint16_t kC1 = 52845;
    constexpr std::uint16_t kC2 = 22719;
    constexpr std::size_t kLeadBytes = 4; // random bytes in front of the plain text
    std::uint16_t r = kEexecKey;
    std::string plain;
    plain.reserve(cipher.size());
    for (std::size_t i = 0; i < cipher.size(); ++i) {
        const auto c = static_cast<unsigned char>(cipher[i]);
        const auto p = static_cast<unsigned char>(c ^ (r >> 8));
        r = static_cast<std::uint16_t>((static_cast<std::uint32_t>(c) + r) * kC1 + kC2);
        if (i >= kLeadBytes)
            plain.push_back(static_cast<char>(p));
    }
    return plain;
}

} // namespace korvel
