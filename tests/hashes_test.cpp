#include <crypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "hashes/formats.h"
#include "hashes/hashes.h"
#include "hashes/random_source.h"
#include "text/exceptions.h"

using namespace hashes;

namespace {

// Bytes first, first + 1, ... 255, 0, 1, ...: every value of a draw is reached, in a known order.
struct CountingSource : hashes::TRandomSource {
  explicit CountingSource(std::uint8_t first = 0) : next(first) {}
  void Fill(std::uint8_t* out, std::size_t size) override { while (size-- > 0) *out++ = next++; }
  std::uint8_t next;
};

constexpr Format kFormats[] = {Format::Des, Format::Apr1, Format::Sha512, Format::Bcrypt};
constexpr TStrength kFast{4, 1000};

}  // namespace

TEST(RandomSource, DrawsAreExactlyUniform) {
  // From the 8 highest bytes on, which 62 values cannot share evenly and are drawn again, 256
  // bytes hold exactly 4 draws of each of 62 values, and exactly 4 of each of 64.
  CountingSource counting(248);
  const hashes::TScopedRandomSource scoped(counting);
  for (const unsigned n : {62u, 64u}) {
    std::vector<int> seen(n);
    for (unsigned i = 0; i < 4 * n; ++i) ++seen.at(hashes::RandomBelow(n));
    EXPECT_EQ(seen, std::vector<int>(n, 4)) << "n " << n;
  }
}

TEST(RandomSource, TheSystemSourceHandsOutEveryByteOnceAcrossItsRefills) {
  // Drawn in pieces that straddle the refills: a byte served twice comes back zeroed, so zeros
  // would run far beyond the 1 in 256 of fresh randomness (20 standard deviations here).
  std::vector<std::uint8_t> bytes(100 * 1000);
  for (std::size_t at = 0; at < bytes.size(); at += 100) hashes::CurrentRandomSource().Fill(&bytes[at], 100);
  EXPECT_LT(std::count(bytes.begin(), bytes.end(), 0), 2 * 100 * 1000 / 256);
}

TEST(RandomSource, AFailingRandomSourceFailsLoudly) {
  struct BrokenSource : hashes::TRandomSource {
    void Fill(std::uint8_t*, std::size_t) override { throw text::Exception("no randomness"); }
  } broken;
  const hashes::TScopedRandomSource scoped(broken);
  for (const Format f : kFormats) EXPECT_THROW(DrawSetting(f, kFast), text::Exception);
}

TEST(Hashes, IdentifyHashIsStrict) {
  const std::string c22(22, 'a'), c43(43, 'd'), c53(53, 'b'), c86(86, 'c'), sha = "{SHA}" + std::string(27, '+');
  // SHA-256 crypt is only ever read from a file: the system's crypt makes the one we check. (That
  // Verify checks it as crypt(3) does, fuzz_hash_verify's corpus shows.)
  crypt_data data{};
  const std::string sha256 = crypt_r("secret", "$5$rounds=1000$saltsaltsaltsalt", &data);
  for (const std::string& h : std::vector<std::string>{"abJnggxhB/yWI", "$apr1$saltsalt$" + c22, "$6$s$" + c86, "$6$rounds=1000$s$" + c86,
                                                       "$6$rounds=999999999$s$" + c86, "$5$s$" + c43, sha256, "$2a$31$" + c53,
                                                       "$2b$04$" + c53, "$2y$04$" + c53, sha + "="})
    EXPECT_TRUE(IdentifyHash(h).has_value()) << h;
  for (const std::string& h : std::vector<std::string>{
           "", "abJnggxhB/yW", "abJnggxhB/yWII", "abJnggxhB/yW!", "abJnggxhB/yWI ", "$1$saltsalt$" + c22,
           "$5$s$" + c86, "$5$s$" + c43.substr(1), "$5$rounds=999$s$" + c43, "$apr1$saltsal$" + c22 + "a", "$apr1$saltsalt$" + c22 + "a",
           "$apr1$salt:alt$" + c22, "$2x$04$" + c53, "$2y$03$" + c53, "$2y$32$" + c53, "$2y$x4$" + c53, "$2y$4$" + c53 + "b",
           "$2y$04$" + c53.substr(1) + "+", "$6$$" + c86, "$6$0123456789abcdefg$" + c86, "$6$s$" + c86.substr(1),
           "$6$s$" + c86 + "c", "$6$s:$" + c86, "$6$s$!" + c86.substr(1), "$6$rounds=999$s$" + c86, "$6$rounds=01000$s$" + c86,
           "$6$rounds=1000000000$s$" + c86, "$6$rounds=1000s$" + c86, sha, sha + "==", "{sha}" + sha.substr(5) + "="})
    EXPECT_FALSE(IdentifyHash(h).has_value()) << h;
}

