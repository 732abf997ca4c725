// Runs a fuzz target without libFuzzer, so that ordinary builds (gcc, the sanitizer build) and
// ctest exercise it too: every input of its seed corpus, which also holds each input that once
// failed, then a fixed series of pseudo-random inputs. A failed check aborts, and the test fails.
//
//   replay_<target> CORPUS_DIR [RANDOM_INPUTS]
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Feed(const std::vector<std::uint8_t>& input) {
  // A copy of exactly the input's length, so that the sanitizers see any read past its end.
  const auto copy = std::make_unique<std::uint8_t[]>(input.size());
  std::copy(input.begin(), input.end(), copy.get());
  LLVMFuzzerTestOneInput(copy.get(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [RANDOM_INPUTS]\n", argv[0]);
    return 2;
  }
  std::set<std::filesystem::path> files;  // in a fixed order
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
    if (entry.is_regular_file()) files.insert(entry.path());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    Feed(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
  }
  const long randoms = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2000;
  // A fixed seed: a replay that fails must fail again the same way.
  std::mt19937 random(20261207);  // NOLINT(cert-msc51-cpp)
  for (long i = 0; i < randoms; ++i) {
    std::vector<std::uint8_t> input(random() % 600);
    for (auto& b : input) b = static_cast<std::uint8_t>(random());
    Feed(input);
  }
  std::printf("%zu corpus inputs and %ld random inputs passed\n", files.size(), randoms);
  return files.empty() ? 1 : 0;
}
