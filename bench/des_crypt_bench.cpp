#include <benchmark/benchmark.h>

#include "des_crypt/des_crypt.h"

static void BM_DesCrypt(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DesCrypt("password", "ab"));
}
BENCHMARK(BM_DesCrypt);
BENCHMARK_MAIN();
