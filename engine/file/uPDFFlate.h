#pragma once
// Flate (zlib) inflation and the PNG / TIFF predictors that may follow it.

#include <cstddef>
#include <string>
#include <string_view>

namespace korvel {

// One filter step never produces more than this many bytes; what was decoded up to the bound
// is kept, as for a truncated stream. Adjustable so tests can use a small bound.
std::size_t DecodeLimit();
void SetDecodeLimit(std::size_t limit);
constexpr std::size_t kDefaultDecodeLimit = std::size_t{256} << 20; // 256 MiB

struct TPredictorParams {
    int Predictor = 1;
    int Colors = 1;
    int BitsPerComponent = 8;
    int Columns = 1;
};

// Inflates a zlib stream; a truncated or damaged stream gives what was inflated before the
// damage, data that is not a zlib stream gives empty bytes.
std::string FlateDecode(std::string_view data, std::size_t limit = DecodeLimit());
// Undoes a predictor on inflated data; unsupported parameters return the data unchanged.
std::string UndoPredictor(std::string data, const TPredictorParams& params);

} // namespace korvel
