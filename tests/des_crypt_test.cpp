#include <gtest/gtest.h>

#include <crypt.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "des_crypt/des_crypt.h"
#include "des_crypt/des_crypt_internal.h"

using namespace des_crypt::internal;
using namespace std::string_literals;

namespace {

// What any password and salt bytes must hash to, from the system crypt(3), which takes no NUL and
// only alphabet salts. So it is given the first eight password bytes with each NUL as 0x80 (the
// same seven key bits), and the alphabet salt of the same values: a stray salt byte counts as the
// alphabet range it sits next to, modulo 64. The salt comes back as given; none is "Jw", and a
// missing second byte is 0.
std::string Expected(const std::string& password, std::string salt) {
  std::string key = password.substr(0, 8);
  std::replace(key.begin(), key.end(), '\0', '\x80');
  salt = salt.empty() ? "Jw" : salt.substr(0, 2);
  salt.resize(2, '\0');
  std::string twin;
  for (const char c : salt) {
    const auto x = static_cast<unsigned char>(c);
    twin += CryptAlphabet[(x <= '9' ? x + 18u : x <= 'Z' ? x + 11u : x + 5u) % 64];
  }
  crypt_data data{};
  const char* out = crypt_r(key.c_str(), twin.c_str(), &data);
  return salt + (out ? out + 2 : "(none)");
}

// Up to `max` bytes, any of them; a salt mostly of the alphabet.
std::string RandomBytes(std::mt19937& random, unsigned max) {
  std::string out;
  for (std::size_t n = random() % (max + 1); n > 0; --n) out += static_cast<char>(random());
  return out;
}
std::string RandomSalt(std::mt19937& random) {
  std::string out;
  for (std::size_t n = random() % 4; n > 0; --n) out += random() % 4 ? CryptAlphabet[random() % 64] : char(random());
  return out;
}

}  // namespace

// The fast hash and the bit-by-bit reference alike.
TEST(DesCrypt, AgreesWithTheSystemCryptOnAnyBytes) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int i = 0; i < 20000; ++i) {
    const std::string password = RandomBytes(random, 12), salt = RandomSalt(random), expected = Expected(password, salt);
    const auto inputs = [&] { return testing::PrintToString(password) + " " + testing::PrintToString(salt); };
    ASSERT_EQ(DesCrypt(password, salt), expected) << inputs();
    ASSERT_EQ(DesCryptReference(password, salt), expected) << inputs();
  }
}

namespace des_crypt::internal {
// Shown in test names and failures, where GoogleTest would otherwise dump the struct's bytes.
void PrintTo(const TBatchVariant& variant, std::ostream* out) { *out << variant.name; }
}  // namespace des_crypt::internal

namespace {

// Whether the kernel lists the feature a variant needs, apart from the variant's own probe.
bool KernelListsFeatureOf(std::string_view variant) {
  if (variant == "portable") return true;
  std::ifstream info("/proc/cpuinfo");
  std::string line;
  while (std::getline(info, line) && !line.starts_with("flags")) {
  }
  return (line + " ").find(" " + (variant == "avx512" ? "avx512f"s : std::string(variant)) + " ") != std::string::npos;
}

class DesCryptBatchVariant : public testing::TestWithParam<TBatchVariant> {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetParam().supported(), KernelListsFeatureOf(GetParam().name)) << "the probe disagrees with /proc/cpuinfo";
    if (!GetParam().supported()) GTEST_SKIP() << "this processor cannot run " << GetParam().name;
  }
};

}  // namespace

// Batches of the sizes that matter around the register width, then a million random inputs over
// all variants (a 16th of that in the sanitizer build, which is many times slower). Two register
// widths and three lanes more go through DesCryptBatch, which splits them over the widest variant
// and the narrowest that holds the rest.
TEST_P(DesCryptBatchVariant, AgreesWithTheSystemCryptInEveryLane) {
#ifdef __SANITIZE_ADDRESS__
  const std::size_t count = (1 << 16) / BatchVariants().size();
#else
  const std::size_t count = (1 << 20) / BatchVariants().size();
#endif
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::size_t lanes = GetParam().lanes;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, lanes - 1, lanes, lanes + 1, 2 * lanes + 3, count}) {
    std::vector<std::string> passwords, salts, results(size);
    for (std::size_t i = 0; i < size; ++i) {
      passwords.push_back(RandomBytes(random, i % 100 ? 12 : 600));
      salts.push_back(RandomSalt(random));
    }
    (size == 2 * lanes + 3 ? &DesCryptBatch : GetParam().hash)(std::vector<std::string_view>(passwords.begin(), passwords.end()),
                    std::vector<std::string_view>(salts.begin(), salts.end()), results);
    for (std::size_t i = 0; i < size; ++i)
      ASSERT_EQ(results[i], Expected(passwords[i], salts[i])) << "batch of " << size << ", lane " << i << ": "
                                                              << testing::PrintToString(passwords[i]) << " " << testing::PrintToString(salts[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Each, DesCryptBatchVariant, testing::ValuesIn(BatchVariants().begin(), BatchVariants().end()),
                         [](const auto& variant) { return std::string(variant.param.name); });
