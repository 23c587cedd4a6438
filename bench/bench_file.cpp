// Micro-benchmarks of the file layer: parsing dictionary-heavy object syntax, decoding a large
// Flate stream through the filter chain, and zlib's own inflate as the floor for the latter.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "file/uPDFStructure.h"

namespace {

using namespace korvel;

// About `size` bytes of small dictionaries and arrays inside one array, as in a page tree or
// an object stream of annotations.
std::string DictionaryHeavyText(std::size_t size) {
    std::mt19937 rng(11);
    std::string out = "[\n";
    int n = 0;
    while (out.size() < size) {
        out += "<< /Type /Annot /Subtype /Link /Rect [" + std::to_string(rng() % 600) + " " +
               std::to_string(rng() % 800) + " " + std::to_string(rng() % 600) + ".5 " +
               std::to_string(rng() % 800) + ".25] /Border [0 0 1] /P " +
               std::to_string(rng() % 5000) + " 0 R /A << /S /URI /URI (http://example.com/" +
               std::to_string(n++) + ") >> /F 4 /C [0.1 0.2 0.3] /T <48656C6C6F> /Flag true >>\n";
    }
    out += "]\n";
    return out;
}

// Page-content-like text: text objects with fonts, positions and strings.
std::string ContentText(std::size_t size) {
    std::mt19937 rng(5);
    static const char* const words[] = {"the", "engine",    "reads", "text",   "from",  "pages",
                                        "of",  "documents", "and",   "writes", "lines", "quickly"};
    std::string out;
    while (out.size() < size) {
        out += "BT /F" + std::to_string(rng() % 6) + " " + std::to_string(8 + rng() % 6) +
               " Tf 1 0 0 1 " + std::to_string(rng() % 540) + " " + std::to_string(rng() % 760) +
               " Tm [(";
        for (int w = 0; w < 6; ++w) {
            out += words[rng() % 12];
            out += ' ';
        }
        out += ") " + std::to_string(rng() % 200) + " (" + words[rng() % 12] + ")] TJ ET\n";
        if (rng() % 8 == 0)
            out += "q 0.5 0 0 0.5 0 0 cm 0 0 1 rg 10 10 100 50 re f Q\n";
    }
    out.resize(size);
    return out;
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
              Z_DEFAULT_COMPRESSION);
    out.resize(size);
    return out;
}

constexpr std::size_t kFlateSize = 10u << 20;

const std::string& FlateText() {
    static const std::string text = ContentText(kFlateSize);
    return text;
}

const std::string& FlatePacked() {
    static const std::string packed = Deflate(FlateText());
    return packed;
}

void BM_Parse(benchmark::State& state) {
    const std::string text = DictionaryHeavyText(1u << 20);
    for (auto _ : state) {
        // Only the parse is timed; freeing the store is left out.
        state.PauseTiming();
        auto store = std::make_unique<TPDFStructure>();
        state.ResumeTiming();
        TPDFObject* value = store->Parse(text);
        benchmark::DoNotOptimize(value);
        state.PauseTiming();
        if (!AsArray(value) || AsArray(value)->Count() < 1000)
            state.SkipWithError("parse produced no array");
        store.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_DecodeFlate(benchmark::State& state) {
    TPDFStructure store;
    TPDFStream* stream = store.CreateStream(FlatePacked());
    stream->Dictionary()->Put("Filter", store.CreateName("FlateDecode"));
    for (auto _ : state) {
        std::string out = stream->DecodedData();
        if (out.size() != kFlateSize)
            state.SkipWithError("wrong decoded size");
        benchmark::DoNotOptimize(out.data());
    }
    // Throughput counts decoded bytes, as for BM_RawInflate.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFlateSize));
    state.counters["ratio"] = static_cast<double>(kFlateSize) / FlatePacked().size();
}
BENCHMARK(BM_DecodeFlate)->Unit(benchmark::kMillisecond);

void BM_RawInflate(benchmark::State& state) {
    const std::string& packed = FlatePacked();
    std::string out(kFlateSize, '\0');
    for (auto _ : state) {
        z_stream z{};
        inflateInit(&z);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        z.avail_in = static_cast<uInt>(packed.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (rc != Z_STREAM_END)
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFlateSize));
}
BENCHMARK(BM_RawInflate)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
