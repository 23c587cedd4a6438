#include "file/uPDFRunLength.h"

#include <algorithm>

#include "file/uPDFExtra.h"
#include "file/uPDFStructure.h"

namespace korvel {

std::string AsciiHexDecode(std::string_view data, std::size_t limit) {
    std::string out;
    out.reserve(std::min(data.size() / 2 + 1, limit));
    int high = -1;
    for (const char ch : data) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsWhiteSpace(c))
            continue;
        const int value = HexDigitValue(c);
        if (value < 0)
            break; // `>` or a stray byte: the end
        if (high < 0) {
            high = value;
            continue;
        }
        if (out.size() >= limit)
            return out;
        out += static_cast<char>(high * 16 + value);
        high = -1;
    }
    if (high >= 0 && out.size() < limit)
        out += static_cast<char>(high * 16);
    return out;
}

std::string RunLengthDecode(std::string_view data, std::size_t limit) {
    std::string out;
    std::size_t i = 0;
    while (i < data.size() && out.size() < limit) {
        const auto length = static_cast<unsigned char>(data[i++]);
        if (length == 128)
            break;
        if (length < 128) {
            // A literal run cut by the end of the data keeps the bytes that are there.
            const std::size_t count = std::min<std::size_t>(length + 1u, data.size() - i);
            out.append(data.substr(i, std::min(count, limit - out.size())));
            i += count;
        } else {
            if (i >= data.size())
                break;
            const std::size_t count = std::min<std::size_t>(257u - length, limit - out.size());
            out.append(count, data[i++]);
        }
    }
    return out;
}

} // namespace korvel
