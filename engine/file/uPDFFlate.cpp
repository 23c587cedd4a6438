#include "file/uPDFFlate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace korvel {

namespace {

std::size_t GDecodeLimit = kDefaultDecodeLimit;

// zlib counts in 32-bit units; longer inputs are fed in slices of this size.
constexpr std::size_t kMaxZlibChunk = std::numeric_limits<uInt>::max();

// Releases the inflate state on every way out of FlateDecode.
struct TInflater {
    z_stream Z{};
    bool Ready = false;
    TInflater() { Ready = inflateInit(&Z) == Z_OK; }
    ~TInflater() {
        if (Ready)
            inflateEnd(&Z);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
};

std::string inflateAll(std::string_view data, std::size_t limit) {
    std::string out;
    if (limit == 0)
        return out;
    TInflater inflater;
    if (!inflater.Ready)
        return out;
    z_stream& z = inflater.Z;

    // Start at the input length rounded up to 256 and double from there: growing by a fixed
    // step would copy the buffer quadratically often for well-compressed data.
    std::size_t capacity = (data.size() / 256 + 1) * 256;
    capacity = std::min(capacity, limit);
    out.resize(capacity);
    std::size_t produced = 0;
    std::size_t consumed = 0;

    for (;;) {
        if (z.avail_in == 0 && consumed < data.size()) {
            const std::size_t slice = std::min(data.size() - consumed, kMaxZlibChunk);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
            z.avail_in = static_cast<uInt>(slice);
            consumed += slice;
        }
        if (produced == out.size()) {
            if (produced >= limit)
                break; // the bound: keep what was inflated, like a truncated stream
            const std::size_t grown = out.size() <= limit / 2 ? out.size() * 2 : limit;
            out.resize(std::max(grown, out.size() + 1));
        }
        const std::size_t room = std::min(out.size() - produced, kMaxZlibChunk);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        z.avail_out = static_cast<uInt>(room);
        const uInt inBefore = z.avail_in;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = room - z.avail_out;
        produced += made;
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && (made > 0 || z.avail_in != inBefore))
            continue;
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && consumed < data.size())
            continue; // the next input slice follows
        if (rc == Z_MEM_ERROR)
            return {};
        // Z_STREAM_END, Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR, or no progress possible.
        break;
    }
    out.resize(produced);
    return out;
}

std::uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return static_cast<std::uint8_t>(a);
    if (pb <= pc)
        return static_cast<std::uint8_t>(b);
    return static_cast<std::uint8_t>(c);
}

// PNG rows: a type byte, then rowLength bytes; only whole rows are decoded.
std::string undoPng(const std::string& data, std::size_t rowLength, std::size_t bpp) {
    const std::size_t stride = rowLength + 1;
    const std::size_t rows = data.size() / stride;
    std::string out(rows * rowLength, '\0');
    const auto* in = reinterpret_cast<const std::uint8_t*>(data.data());
    auto* dst = reinterpret_cast<std::uint8_t*>(out.data());
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* src = in + r * stride + 1;
        const int type = in[r * stride];
        std::uint8_t* row = dst + r * rowLength;
        const std::uint8_t* up = r > 0 ? row - rowLength : nullptr;
        switch (type) {
        case 1:
            for (std::size_t i = 0; i < rowLength; ++i)
                row[i] = static_cast<std::uint8_t>(src[i] + (i >= bpp ? row[i - bpp] : 0));
            break;
        case 2:
            for (std::size_t i = 0; i < rowLength; ++i)
                row[i] = static_cast<std::uint8_t>(src[i] + (up ? up[i] : 0));
            break;
        case 3:
            for (std::size_t i = 0; i < rowLength; ++i) {
                const int a = i >= bpp ? row[i - bpp] : 0;
                const int b = up ? up[i] : 0;
                row[i] = static_cast<std::uint8_t>(src[i] + (a + b) / 2);
            }
            break;
        case 4:
            for (std::size_t i = 0; i < rowLength; ++i) {
                const int a = i >= bpp ? row[i - bpp] : 0;
                const int b = up ? up[i] : 0;
                const int c = up && i >= bpp ? up[i - bpp] : 0;
                row[i] = static_cast<std::uint8_t>(src[i] + paeth(a, b, c));
            }
            break;
        default: // type 0 and unknown types store the bytes as they are
            std::copy(src, src + rowLength, row);
            break;
        }
    }
    return out;
}

// TIFF predictor 2, in place; bytes after the last whole row keep their stored values.
void undoTiff(std::string& data, std::size_t rowLength, std::size_t bpp) {
    auto* p = reinterpret_cast<std::uint8_t*>(data.data());
    const std::size_t rows = data.size() / rowLength;
    for (std::size_t r = 0; r < rows; ++r) {
        std::uint8_t* row = p + r * rowLength;
        for (std::size_t i = bpp; i < rowLength; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
    }
}

} // namespace

std::size_t DecodeLimit() {
    return GDecodeLimit;
}
void SetDecodeLimit(std::size_t limit) {
    GDecodeLimit = limit;
}

std::string FlateDecode(std::string_view data, std::size_t limit) {
    return inflateAll(data, limit);
}

std::string UndoPredictor(std::string data, const TPredictorParams& params) {
    if (params.BitsPerComponent != 8 || params.Columns < 1 || params.Colors < 1)
        return data;
    const bool tiff = params.Predictor == 2;
    const bool png = params.Predictor >= 10;
    if (!tiff && !png)
        return data;
    if (tiff && params.Colors != 1 && params.Colors != 3 && params.Colors != 4)
        return data;
    // Both factors are below 2^31, so the product fits in 64 bits. A row (with its PNG type
    // byte) beyond the 32-bit range is nonsense; such data is left as it is.
    const std::uint64_t rowLength =
        static_cast<std::uint64_t>(params.Columns) * static_cast<std::uint64_t>(params.Colors);
    if (rowLength + 1 > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return data;
    const auto bpp = static_cast<std::size_t>(params.Colors);
    if (tiff) {
        undoTiff(data, static_cast<std::size_t>(rowLength), bpp);
        return data;
    }
    return undoPng(data, static_cast<std::size_t>(rowLength), bpp);
}

} // namespace korvel
