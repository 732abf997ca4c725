// One login's worth of work on the server: verifying a password against its hash, for each form
// at the strength we write by default. The slow formats are slow on purpose; this shows how slow.
#include <benchmark/benchmark.h>

#include <string>

#include "hashes/hashes.h"

namespace {

void BM_Verify(benchmark::State& state, hashes::Format format) {
  const std::string hash = hashes::HashWithSetting("correct horse", hashes::DrawSetting(format, {}));
  for (auto _ : state) benchmark::DoNotOptimize(hashes::Verify("correct horse", hash));
  // The setting's head names the strength measured ("$2y$10$"); DES has none.
  if (const std::size_t end = hash.find('$', 4); end != std::string::npos) state.SetLabel(hash.substr(0, end + 1));
}

BENCHMARK_CAPTURE(BM_Verify, Des, hashes::Format::Des)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Verify, Apr1, hashes::Format::Apr1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Verify, Sha512, hashes::Format::Sha512)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Verify, Bcrypt, hashes::Format::Bcrypt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
