// DesCrypt beside its peers on the same passwords and salts, in one run: the portable
// reference, libxcrypt's crypt_r and OpenSSL's DES_fcrypt. Prints hashes per second for each and,
// at the end, how DesCrypt compares.
#include <benchmark/benchmark.h>
#include <crypt.h>

// DES_fcrypt is deprecated in OpenSSL 3 as a cipher API, but it is the peer we measure against
// here, not something the product uses; the warning would only be noise.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/des.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "des_crypt/des_crypt.h"
#include "des_crypt/des_crypt_internal.h"

namespace {

struct Input {
  std::string password;
  std::string salt;
};

// Fixed seed: every peer and every run sees the same 256 inputs, passwords of 1 to 12 bytes.
const std::vector<Input>& Inputs() {
  static const std::vector<Input> inputs = [] {
    std::mt19937 random(20240601);
    std::vector<Input> made(256);
    const auto& alphabet = des_crypt::internal::CryptAlphabet;
    for (Input& input : made) {
      for (std::size_t n = 1 + random() % 12; n > 0; --n) input.password += static_cast<char>(1 + random() % 255);
      input.salt = {alphabet[random() % 64], alphabet[random() % 64]};
    }
    return made;
  }();
  return inputs;
}

template <typename Hash>
void Run(benchmark::State& state, Hash hash) {
  const std::vector<Input>& inputs = Inputs();
  std::size_t i = 0;
  for (auto _ : state) {
    const Input& input = inputs[i++ % inputs.size()];
    benchmark::DoNotOptimize(hash(input));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DesCrypt(benchmark::State& state) {
  Run(state, [](const Input& in) { return DesCrypt(in.password, in.salt); });
}
void BM_DesCryptReference(benchmark::State& state) {
  Run(state, [](const Input& in) { return des_crypt::internal::DesCryptReference(in.password, in.salt); });
}
void BM_CryptR(benchmark::State& state) {
  auto data = std::make_unique<crypt_data>();
  Run(state, [&](const Input& in) { return crypt_r(in.password.c_str(), in.salt.c_str(), data.get())[2]; });
}
void BM_DesFcrypt(benchmark::State& state) {
  char out[14];
  Run(state, [&](const Input& in) { return DES_fcrypt(in.password.c_str(), in.salt.c_str(), out)[2]; });
}
BENCHMARK(BM_DesCrypt);
BENCHMARK(BM_DesCryptReference);
BENCHMARK(BM_CryptR);
BENCHMARK(BM_DesFcrypt);

// The console output as usual, and the rates kept by benchmark name for the summary.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end() && run.aggregate_name.empty()) rates[run.run_name.function_name] = rate->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

#pragma GCC diagnostic pop

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto& rates = reporter.rates;
  const double fast = rates["BM_DesCrypt"];
  std::printf("\nhashes per second relative to DesCrypt's %.0f:\n", fast);
  for (const char* peer : {"BM_DesFcrypt", "BM_CryptR", "BM_DesCryptReference"})
    if (rates[peer] > 0) std::printf("  DesCrypt / %-22s %.2f\n", peer + 3, fast / rates[peer]);
  return 0;
}
