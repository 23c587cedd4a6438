#include "fonts/uPDFDingbats.h"

#include <zlib.h>

#include <cstddef>
#include <string_view>

namespace korvel {

namespace generated {
extern const unsigned char kDingbatsFontZ[];
extern const std::size_t kDingbatsFontZSize;
} // namespace generated

namespace {

// The compiled-in font inflates to a few kilobytes; anything past this bound means the data is
// not what the build put there.
constexpr std::size_t kMaxDingbatsSize = std::size_t{1} << 20;

// The whole zlib stream inflated, or empty when it is damaged, truncated or too large.
std::string inflateAll(std::string_view packed) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return {};
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    zs.avail_in = static_cast<uInt>(packed.size());
    std::string out;
    char chunk[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        status = inflate(&zs, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - zs.avail_out);
        if (out.size() > kMaxDingbatsSize)
            status = Z_DATA_ERROR;
    }
    inflateEnd(&zs);
    return status == Z_STREAM_END ? out : std::string();
}

} // namespace

const std::string& BuiltInDingbatsFont() {
    static const std::string font = inflateAll(std::string_view(
        reinterpret_cast<const char*>(generated::kDingbatsFontZ), generated::kDingbatsFontZSize));
    return font;
}

} // namespace korvel
