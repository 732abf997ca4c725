// DesCrypt and each variant of DesCryptBatch beside their peers on the same passwords and salts,
// in one run: the portable reference, libxcrypt's crypt_r and OpenSSL's DES_fcrypt. Everything
// runs on one thread, so the rates are hashes per second per core; the summary at the end puts
// each beside DES_fcrypt, crypt_r and DesCrypt.
#include <benchmark/benchmark.h>
#include <crypt.h>

// DES_fcrypt is deprecated in OpenSSL 3 as a cipher API, but it is the peer we measure against
// here, not something the product uses; the warning would only be noise.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/des.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string_view>
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

// A batch of 4096, the 256 inputs over and over: a whole number of passes for every variant.
void BM_DesCryptBatch(benchmark::State& state, des_crypt::internal::BatchFunction hash) {
  std::vector<std::string_view> passwords, salts;
  for (std::size_t i = 0; i < 4096; ++i) {
    passwords.emplace_back(Inputs()[i % Inputs().size()].password);
    salts.emplace_back(Inputs()[i % Inputs().size()].salt);
  }
  std::vector<std::string> results(passwords.size());
  for (auto _ : state) {
    hash(passwords, salts, results);
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(passwords.size()));
}

// The console output as usual, and the rates kept by benchmark name, in the order run, for the
// summary.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto rate = run.counters.find("items_per_second");
      // A plain run, or with --benchmark_repetitions the median, which is reported after the runs.
      if (rate != run.counters.end() && (run.aggregate_name.empty() || run.aggregate_name == "median")) {
        if (!rates.contains(run.run_name.function_name)) order.push_back(run.run_name.function_name);
        rates[run.run_name.function_name] = rate->second;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
  std::vector<std::string> order;
};

}  // namespace

#pragma GCC diagnostic pop

int main(int argc, char** argv) {
  for (const auto& variant : des_crypt::internal::BatchVariants())
    if (variant.supported())
      benchmark::RegisterBenchmark(("BM_DesCryptBatch/" + std::string(variant.name)).c_str(), BM_DesCryptBatch,
                                   variant.hash);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto& rates = reporter.rates;
  std::printf("\nhashes per second per core, and as multiples of the peers' rates:\n");
  std::printf("  %-26s %12s %10s %10s %10s\n", "", "hashes/s", "DesFcrypt", "CryptR", "DesCrypt");
  for (const std::string& name : reporter.order) {
    const double rate = rates[name];
    std::printf("  %-26s %12.0f", name.c_str() + 3, rate);
    for (const char* peer : {"BM_DesFcrypt", "BM_CryptR", "BM_DesCrypt"})
      std::printf(" %10.2f", rates[peer] > 0 ? rate / rates[peer] : 0.0);
    std::printf("\n");
  }
  return 0;
}
