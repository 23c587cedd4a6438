#include "file/uPDFAscii85.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace korvel {

namespace {

// The digits `!` to `u` and `~` take part in decoding; `z` stands for five `!`; everything
// else (white space above all) is dropped.
bool isKept(unsigned char c) {
    return (c >= '!' && c <= 'u') || c == '~';
}

void appendGroup(std::string& out, std::uint64_t value, std::size_t count) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, count);
}

} // namespace

std::string Ascii85Decode(std::string_view data, std::size_t limit) {
    // The kept characters must end with `~>`; find where that marker starts, scanning back over
    // dropped bytes. A trailing `z` counts as `!` and so never ends the marker.
    std::size_t end = data.size();
    auto previousKept = [&](std::size_t from) -> std::size_t {
        while (from > 0) {
            const auto c = static_cast<unsigned char>(data[from - 1]);
            if (isKept(c) || c == 'z')
                return from - 1;
            --from;
        }
        return std::string_view::npos;
    };
    const std::size_t gt = previousKept(end);
    if (gt == std::string_view::npos || data[gt] != '>')
        return {};
    const std::size_t tilde = previousKept(gt);
    if (tilde == std::string_view::npos || data[tilde] != '~')
        return {};
    end = tilde;

    std::string out;
    out.reserve(std::min<std::size_t>(end / 5 * 4 + 4, limit));
    std::uint64_t value = 0;
    std::size_t count = 0;
    auto addDigit = [&](unsigned digit) -> bool {
        value = value * 85 + digit;
        if (++count < 5)
            return true;
        // A group above 2^32 - 1 gives four zero bytes.
        appendGroup(out, value > 0xFFFFFFFFull ? 0 : value, 4);
        value = 0;
        count = 0;
        return out.size() < limit;
    };
    for (std::size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        bool more = true;
        if (c == 'z') {
            for (int k = 0; k < 5 && more; ++k)
                more = addDigit(0);
        } else if (isKept(c)) {
            more = addDigit(c - '!');
        }
        if (!more) {
            out.resize(limit);
            return out;
        }
    }
    if (count >= 2) {
        // Padded with `u` to a whole group; here 2^32 - 1 itself already gives zero.
        for (std::size_t k = count; k < 5; ++k)
            value = value * 85 + ('u' - '!');
        appendGroup(out, value >= 0xFFFFFFFFull ? 0 : value, count - 1);
    }
    if (out.size() > limit)
        out.resize(limit);
    return out;
}

} // namespace korvel
