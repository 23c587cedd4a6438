#include "text/uPDFContentTokens.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "file/uPDFExtra.h"
#include "file/uPDFStructure.h"

namespace korvel {

namespace {

bool isWhite(char c) {
    return IsWhiteSpace(static_cast<unsigned char>(c));
}

struct TOperatorRow {
    std::string_view Name;
    TOp Op;
};

constexpr TOperatorRow kOperators[] = {
    {"q", TOp::Save},         {"Q", TOp::Restore},       {"cm", TOp::Concat},
    {"gs", TOp::ExtGState},   {"Do", TOp::XObject},      {"rg", TOp::FillRGB},
    {"k", TOp::FillCMYK},     {"g", TOp::FillGray},      {"RG", TOp::StrokeRGB},
    {"K", TOp::StrokeCMYK},   {"G", TOp::StrokeGray},    {"sc", TOp::FillColour},
    {"scn", TOp::FillColour}, {"SC", TOp::StrokeColour}, {"SCN", TOp::StrokeColour},
    {"cs", TOp::FillSpace},   {"CS", TOp::StrokeSpace},  {"w", TOp::LineWidth},
    {"J", TOp::LineCap},      {"j", TOp::LineJoin},      {"d", TOp::Dash},
    {"m", TOp::Point},        {"l", TOp::Point},         {"c", TOp::Curve6},
    {"v", TOp::Curve4},       {"y", TOp::Curve4},        {"re", TOp::Curve4},
    {"h", TOp::Nothing},      {"S", TOp::Nothing},       {"s", TOp::Nothing},
    {"f", TOp::Nothing},      {"F", TOp::Nothing},       {"f*", TOp::Nothing},
    {"B", TOp::Nothing},      {"B*", TOp::Nothing},      {"b", TOp::Nothing},
    {"b*", TOp::Nothing},     {"n", TOp::Nothing},       {"W", TOp::Nothing},
    {"W*", TOp::Nothing},     {"Tf", TOp::Tf},           {"BT", TOp::BT},
    {"Tm", TOp::Tm},          {"Td", TOp::Td},           {"TD", TOp::TD},
    {"T*", TOp::TStar},       {"Tz", TOp::Tz},           {"Ts", TOp::Ts},
    {"Tr", TOp::Tr},          {"Tc", TOp::Tc},           {"Tw", TOp::Tw},
    {"TL", TOp::TL},          {"Tj", TOp::Tj},           {"'", TOp::Quote},
    {"TJ", TOp::TJ},          {"[", TOp::Array},         {"BI", TOp::InlineImage},
    {"sh", TOp::Shading},
};

// Operators are at most three bytes long: their bytes and length make one 32-bit key, found
// in an open-addressed table of a few times as many slots as operators (0 marks a free slot:
// every key holds its length).
class TOperatorTable {
public:
    TOperatorTable() {
        for (const TOperatorRow& row : kOperators) {
            const std::uint32_t key = keyOf(row.Name);
            std::size_t i = slotOf(key);
            while (FSlots[i].Key != 0 && FSlots[i].Key != key)
                i = (i + 1) % kSlots;
            if (FSlots[i].Key == 0)
                FSlots[i] = {key, row.Op};
        }
    }
    TOp Find(std::string_view token) const {
        if (token.empty() || token.size() > 3)
            return TOp::None;
        const std::uint32_t key = keyOf(token);
        for (std::size_t i = slotOf(key);; i = (i + 1) % kSlots) {
            if (FSlots[i].Key == key)
                return FSlots[i].Op;
            if (FSlots[i].Key == 0)
                return TOp::None;
        }
    }

private:
    static constexpr std::size_t kSlots = 256;
    static std::uint32_t keyOf(std::string_view name) {
        std::uint32_t key = static_cast<std::uint32_t>(name.size()) << 24;
        for (std::size_t i = 0; i < name.size(); ++i)
            key |= std::uint32_t{static_cast<unsigned char>(name[i])} << (8 * i);
        return key;
    }
    static std::size_t slotOf(std::uint32_t key) { return (key * 2654435761u) >> 24; }
    struct TSlot {
        std::uint32_t Key = 0;
        TOp Op = TOp::None;
    };
    std::array<TSlot, kSlots> FSlots{};
};
const TOperatorTable kOperatorTable;

} // namespace

TOp FindOperator(std::string_view token) {
    return kOperatorTable.Find(token);
}

std::string_view expandedImageName(std::string_view name) {
    static const std::pair<std::string_view, std::string_view> kNames[] = {
        {"/G", "/DeviceGray"},       {"/RGB", "/DeviceRGB"},      {"/CMYK", "/DeviceCMYK"},
        {"/I", "/Indexed"},          {"/AHx", "/ASCIIHexDecode"}, {"/A85", "/ASCII85Decode"},
        {"/LZW", "/LZWDecode"},      {"/Fl", "/FlateDecode"},     {"/RL", "/RunLengthDecode"},
        {"/CCF", "/CCITTFaxDecode"}, {"/DCT", "/DCTDecode"},
    };
    for (const auto& [abbreviation, full] : kNames)
        if (name == abbreviation)
            return full;
    return name;
}

std::int64_t imageInteger(std::string_view text) {
    const double value = NumberFromText(text);
    return value > 0 ? static_cast<std::int64_t>(value) : 0;
}

void TContentLexer::ReadImageDictionary(TImage& image, bool& sawId) {
    TContentToken token;
    auto nextView = [&](std::string_view& out) {
        if (!Next(token))
            return false;
        out = View(token);
        return true;
    };
    auto takeFilter = [&](std::string_view name) {
        image.Filtered = true;
        if (expandedImageName(name) == "/DCTDecode")
            image.Dct = true;
    };
    std::string_view key;
    while (nextView(key)) {
        if (key == "ID") {
            sawId = true;
            return;
        }
        std::string_view value;
        if (key == "/W" || key == "/Width") {
            if (nextView(value))
                image.Width = imageInteger(value);
        } else if (key == "/H" || key == "/Height") {
            if (nextView(value))
                image.Height = imageInteger(value);
        } else if (key == "/BPC" || key == "/BitsPerComponent") {
            if (nextView(value))
                image.Bits = imageInteger(value);
        } else if (key == "/IM" || key == "/ImageMask") {
            if (nextView(value))
                image.Mask = value == "true";
        } else if (key == "/CS" || key == "/ColorSpace") {
            if (nextView(value)) {
                const std::string_view space = expandedImageName(value);
                image.Components = space == "/DeviceRGB" ? 3 : space == "/DeviceCMYK" ? 4 : 1;
                if (value == "[") // an Indexed or other array space: one component
                    while (nextView(value) && value != "]" && value != "ID") {
                    }
                if (value == "ID") {
                    sawId = true;
                    return;
                }
            }
        } else if (key == "/F" || key == "/Filter") {
            if (!nextView(value))
                return;
            if (value == "[") {
                while (nextView(value) && value != "]" && value != "ID")
                    takeFilter(value);
                if (value == "ID") {
                    sawId = true;
                    return;
                }
            } else {
                takeFilter(value);
            }
        }
    }
}

std::size_t TContentLexer::FindEI(std::size_t from, bool whiteAfter) const {
    while (from < FData.size()) {
        const std::size_t at = FData.find("EI", from);
        if (at == std::string_view::npos)
            return at;
        if (!whiteAfter)
            return at;
        if (at + 2 < FData.size() && isWhite(FData[at + 2]))
            return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

std::size_t TContentLexer::WalkJpeg(std::size_t from) const {
    const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(FData[i]); };
    const std::size_t n = FData.size();
    std::size_t pos = from;
    while (pos + 1 < n && !(byte(pos) == 0xFF && byte(pos + 1) == 0xD8))
        ++pos;
    // Entropy-coded data runs to the next marker: 255 followed by neither 0 (a stuffed byte)
    // nor a restart marker.
    const auto skipScan = [&](std::size_t p) {
        while (p + 1 < n &&
               !(byte(p) == 0xFF && byte(p + 1) != 0 && (byte(p + 1) < 0xD0 || byte(p + 1) > 0xD7)))
            ++p;
        return p;
    };
    while (pos + 1 < n) {
        if (byte(pos) != 0xFF)
            return std::string_view::npos;
        const unsigned char marker = byte(pos + 1);
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9)
            return pos + 2;
        // Start of image, restarts and TEM carry no length.
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (pos + 3 >= n)
            return std::string_view::npos;
        const std::size_t length = (std::size_t{byte(pos + 2)} << 8) | byte(pos + 3);
        pos += 2 + std::max<std::size_t>(length, 2);
        if (marker == 0xDA)
            pos = skipScan(pos);
    }
    return std::string_view::npos;
}

void TContentLexer::SkipInlineImage() {
    TImage image;
    bool sawId = false;
    ReadImageDictionary(image, sawId);
    const std::size_t n = FData.size();
    if (!sawId) {
        FLexer.SetPosition(n);
        return;
    }
    // The data begins after the one white-space byte that follows `ID`.
    const std::size_t dataStart = std::min(FLexer.Position() + 1, n);
    std::size_t ei = std::string_view::npos;
    bool searched = false;
    if (!image.Filtered) {
        std::int64_t bits = image.Bits >= 0 ? image.Bits : (image.Mask ? 1 : 8);
        const int components = image.Mask ? 1 : image.Components;
        // Sizes in 64 bits, saturated: a claimed size past the content just means "search
        // from the end", which finds nothing.
        std::int64_t row = 0, size = 0;
        if (__builtin_mul_overflow(image.Width, bits, &row))
            row = std::numeric_limits<std::int64_t>::max() - 7;
        row = (row + 7) / 8;
        if (__builtin_mul_overflow(row, image.Height, &size) ||
            __builtin_mul_overflow(size, std::int64_t{components}, &size))
            size = std::numeric_limits<std::int64_t>::max();
        const std::size_t from =
            static_cast<std::uint64_t>(size) >= n - dataStart ? n : dataStart + size;
        ei = FindEI(from, false);
        searched = true;
    } else if (image.Dct) {
        const std::size_t end = WalkJpeg(dataStart);
        if (end != std::string_view::npos) {
            FLexer.SetPosition(end);
            TContentToken token;
            while (Next(token))
                if (View(token) == "EI") {
                    FLexer.SetPosition(token.Pos);
                    return;
                }
            FLexer.SetPosition(n);
            return;
        }
    }
    if (!searched)
        ei = FindEI(dataStart, true);
    FLexer.SetPosition(ei == std::string_view::npos ? n : ei);
}

std::vector<TContentToken> Tokenize(std::string_view data) {
    std::vector<TContentToken> tokens;
    TContentLexer lexer(data);
    TContentToken token;
    bool inArray = false;
    while (lexer.Next(token)) {
        const std::string_view view = lexer.View(token);
        if (inArray) {
            token.Op = static_cast<std::uint8_t>(TOp::None);
            inArray = view != "]";
            tokens.push_back(token);
            continue;
        }
        const TOp op = FindOperator(view);
        token.Op = static_cast<std::uint8_t>(op);
        tokens.push_back(token);
        if (op == TOp::Array)
            inArray = true;
        else if (op == TOp::InlineImage)
            lexer.SkipInlineImage();
    }
    tokens.shrink_to_fit();
    return tokens;
}

} // namespace korvel
