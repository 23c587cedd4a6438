// Micro-benchmarks of the file layer (filled in with the parser and filters).
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
