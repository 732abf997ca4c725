#include <gtest/gtest.h>

#include <crypt.h>

#include <random>

#include "des_crypt/des_crypt.h"
#include "des_crypt/des_crypt_internal.h"

using namespace std::string_literals;
using namespace des_crypt::internal;

TEST(DesCryptTables, HoldTheTellingEntries) {
  struct Entry {
    int round, bit;  // FIPS 46-3 numbering: round key 1 to 16, bit 1 to 48
    int byte, shift;
  } entries[] = {
      {1, 1, 2, 5},  {1, 2, 7, 4},  {1, 3, 5, 5},  {1, 4, 8, 3},  {1, 5, 7, 6},  {1, 6, 3, 6},
      {1, 43, 6, 2}, {1, 44, 2, 1}, {1, 45, 2, 2}, {1, 46, 8, 1}, {1, 47, 7, 0}, {1, 48, 4, 0},
      {2, 1, 1, 5},  {2, 2, 6, 4},  {2, 3, 4, 5},  {2, 4, 7, 3},  {2, 5, 6, 6},  {2, 6, 2, 6},
      {16, 1, 3, 5}, {16, 2, 8, 4}, {16, 3, 6, 5}, {16, 4, 1, 4}, {16, 5, 8, 6}, {16, 6, 4, 6},
  };
  for (const Entry& e : entries) {
    const auto a = static_cast<std::size_t>(48 * (e.round - 1) + e.bit - 1);
    EXPECT_EQ(KeyBitByte[a], e.byte) << "round key " << e.round << " bit " << e.bit;
    EXPECT_EQ(KeyBitShift[a], e.shift) << "round key " << e.round << " bit " << e.bit;
  }
  EXPECT_EQ((std::vector<int>(PTarget.begin(), PTarget.begin() + 8)), (std::vector<int>{8, 16, 22, 30, 12, 27, 1, 17}));
  EXPECT_EQ((std::vector<int>(FinalPerm.begin(), FinalPerm.begin() + 10)),
            (std::vector<int>{7, 7, 15, 15, 23, 23, 31, 31, 6, 6}));
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(FinalPerm[i], 8 * (i % 8 / 2) + 7 - i / 8) << i;

  const std::pair<int, int> salt_values[] = {{'.', 0},  {'/', 1},  {'0', 2},  {'9', 11}, {'A', 12}, {'Z', 37},
                                             {'a', 38}, {'z', 63}, {0, 18},   {' ', 50}, {'-', 63}, {':', 5},
                                             {64, 11},  {'[', 32}, {'`', 37}, {'{', 0},  {127, 4},  {128, 5},
                                             {255, 4}};
  for (const auto& [x, f] : salt_values) {
    EXPECT_EQ(SaltLowMap[static_cast<std::size_t>(x)], f) << x;
    EXPECT_EQ(SaltHighMap[static_cast<std::size_t>(x)], f * 64) << x;
  }
}

namespace {

using Hash = std::string (*)(std::string_view, std::string_view);

// Every test runs against the fast hash and the bit-by-bit reference alike.
class DesCryptBoth : public testing::TestWithParam<Hash> {
 protected:
  std::string H(std::string_view password, std::string_view salt) const { return GetParam()(password, salt); }
};

std::string System(const std::string& password, const std::string& salt) {
  crypt_data data{};
  const char* out = crypt_r(password.c_str(), salt.c_str(), &data);
  return out ? out : "";
}

}  // namespace

TEST_P(DesCryptBoth, AgreesWithTheSystemCrypt) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int i = 0; i < 20000; ++i) {
    std::string password;
    for (std::size_t n = random() % 13; n > 0; --n) password += static_cast<char>(1 + random() % 255);
    const std::string salt{CryptAlphabet[random() % 64], CryptAlphabet[random() % 64]};
    ASSERT_EQ(H(password, salt), System(password, salt)) << testing::PrintToString(password) << " " << salt;
  }
  EXPECT_EQ(H("", "ab"), System("", "ab"));
  EXPECT_EQ(H("password", "ab"), "abJnggxhB/yWI");  // a hash every crypt(3) gives
}

TEST_P(DesCryptBoth, GivesADefinedResultForEveryInput) {
  struct Same {
    const char* label;
    std::string password_a, salt_a, password_b, salt_b;
  } same[] = {
      {"only the first 8 bytes count", "12345678", "ab", "12345678xyz", "ab"},
      {"short passwords are padded with zero bytes", "abc", "ab", "abc\0\0\0\0\0"s, "ab"},
      {"the empty password is eight zero bytes", "", "ab", "\0\0\0\0\0\0\0\0"s, "ab"},
      {"the top bit of a byte does not count", "\xE1" "bc", "ab", "abc", "ab"},
      {"only the first two salt bytes count", "pw", "abcdef", "pw", "ab"},
  };
  for (const Same& s : same) EXPECT_EQ(H(s.password_a, s.salt_a), H(s.password_b, s.salt_b)) << s.label;

  EXPECT_NE(H("a\0b"s, "ab"), H("a"s, "ab")) << "a zero byte does not end the key";
  EXPECT_EQ(H("pw", ""), H("pw", "Jw")) << "an empty salt is Jw";
  EXPECT_EQ(H("pw", "").substr(0, 2), "Jw");
  // A salt byte outside the alphabet hashes like the alphabet byte of the same value, and is echoed.
  const std::string bang = H("pw", "!a");
  EXPECT_EQ(bang.substr(0, 2), "!a");
  EXPECT_EQ(bang.substr(2), H("pw", "na").substr(2));
  // A one-byte salt has a zero second byte, which hashes like "G" (value 18).
  const std::string one = H("pw", "x");
  ASSERT_EQ(one.size(), 13u);
  EXPECT_EQ(one[1], '\0');
  EXPECT_EQ(one.substr(2), H("pw", "xG").substr(2));

  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::string password, salt;
    for (std::size_t n = random() % 20; n > 0; --n) password += static_cast<char>(random() % 256);
    for (std::size_t n = random() % 4; n > 0; --n) salt += static_cast<char>(random() % 256);
    const std::string h = H(password, salt);
    ASSERT_EQ(h.size(), 13u);
    EXPECT_EQ(h.substr(2).find_first_not_of(CryptAlphabet), std::string::npos) << "never a \":\" or other byte";
    EXPECT_NE(std::string_view(".26AEIMQUYcgkosw").find(h[12]), std::string_view::npos) << h;
  }
}

INSTANTIATE_TEST_SUITE_P(Fast, DesCryptBoth, testing::Values(&DesCrypt));
INSTANTIATE_TEST_SUITE_P(Reference, DesCryptBoth, testing::Values(&DesCryptReference));
