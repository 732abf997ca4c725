#include <gtest/gtest.h>

#include <map>

#include "hashes/random_source.h"
#include "text/exceptions.h"

namespace {

// Bytes 0, 1, 2, ... 255, 0, 1, ...: every value of a draw is reached, in a known order.
struct CountingSource : RandomSource {
  void Fill(std::uint8_t* out, std::size_t size) override { while (size-- > 0) *out++ = next++; }
  std::uint8_t next = 0;
};

struct BrokenSource : RandomSource {
  void Fill(std::uint8_t*, std::size_t) override { throw text::Exception("no randomness"); }
};

}  // namespace

TEST(RandomSource, DrawsAreExactlyUniform) {
  CountingSource counting;
  const ScopedRandomSource scoped(counting);
  // 256 bytes hold exactly 4 draws of each of 62 values (the 8 highest bytes are drawn again), and
  // exactly 4 of each of 64.
  for (const unsigned n : {62u, 64u}) {
    std::map<unsigned, int> seen;
    for (unsigned i = 0; i < 4 * n; ++i) ++seen[RandomBelow(n)];
    ASSERT_EQ(seen.size(), n);
    for (const auto& [value, count] : seen) EXPECT_EQ(count, 4) << "n " << n << " value " << value;
  }
}

TEST(RandomSource, AFailingRandomSourceFailsLoudly) {
  BrokenSource broken;
  const ScopedRandomSource scoped(broken);
  EXPECT_THROW(RandomBelow(64), text::Exception);
}
