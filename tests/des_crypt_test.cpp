#include <gtest/gtest.h>

#include <crypt.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "des_crypt/des_crypt.h"
#include "des_crypt/des_crypt_internal.h"
#include "des_crypt/sbox_circuits.h"

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

// Every circuit on all 64 inputs at once (bit v of a word stands for input v), by an interpreter
// of its own: the outputs must be the table's bits XORed into the left-half bits.
TEST(SBoxCircuits, ComputeTheTable) {
  for (const auto* family : {&TwoInputCircuits, &ThreeInputCircuits})
    for (std::size_t k = 0; k < 8; ++k) {
      const SBoxCircuit& circuit = (*family)[k];
      std::vector<std::uint64_t> node(SBoxFirstGate + circuit.size), expected(4);
      for (unsigned v = 0; v < 64; ++v) {
        for (unsigned j = 0; j < 6; ++j) node[j] |= std::uint64_t{v >> (5 - j) & 1} << v;
        const unsigned y = SBoxTable[64 * k + 16 * ((v >> 4 & 2) | (v & 1)) + (v >> 1 & 15)];
        for (unsigned m = 0; m < 4; ++m) expected[m] |= std::uint64_t{y >> (3 - m) & 1} << v;
      }
      node[6] = ~std::uint64_t{0};
      for (unsigned m = 0; m < 4; ++m) expected[m] ^= node[7 + m] = 0x0123456789ABCDEF * (m + 1);
      for (std::size_t g = 0; g < circuit.size; ++g) {
        const SBoxGate gate = circuit.gates[g];
        const std::uint64_t a = node[gate.a], b = node[gate.b], c = node[gate.c];
        for (unsigned p = 0; p < 8; ++p)
          if (gate.function >> p & 1) node[SBoxFirstGate + g] |= (p & 4 ? a : ~a) & (p & 2 ? b : ~b) & (p & 1 ? c : ~c);
      }
      for (unsigned m = 0; m < 4; ++m) EXPECT_EQ(node[circuit.outputs[m]], expected[m]) << "S" << k + 1 << " bit " << m;
    }
}

namespace des_crypt::internal {
// Shown in test names and failures, where GoogleTest would otherwise dump the struct's bytes.
void PrintTo(const BatchVariant& variant, std::ostream* out) { *out << variant.name; }
}  // namespace des_crypt::internal

namespace {

// The inputs of one batch, owned, and the batch hash of them.
struct Batch {
  std::vector<std::string> passwords, salts;
  void Add(std::string password, std::string salt) {
    passwords.push_back(std::move(password));
    salts.push_back(std::move(salt));
  }
  std::vector<std::string> Hash(BatchFunction hash) const {
    const std::vector<std::string_view> p(passwords.begin(), passwords.end()), s(salts.begin(), salts.end());
    std::vector<std::string> results(p.size());
    hash(p, s, results);
    return results;
  }
};

class DesCryptBatchVariant : public testing::TestWithParam<BatchVariant> {
 protected:
  void SetUp() override {
    if (!GetParam().supported()) GTEST_SKIP() << "this processor cannot run " << GetParam().name;
  }
};

}  // namespace

// Every rule of DesCrypt in every lane, in batches of the sizes that matter around the register
// width; each batch starts at another case, so that the cases move from lane to lane.
TEST_P(DesCryptBatchVariant, AgreesWithDesCryptOnAwkwardInputs) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},       {"password", "ab"}, {"12345678xyz", "./"}, {"a\0b"s, "zz"},          {"\0\0"s, "\0"s},
      {"pw", "x"},    {"pw", "!a"},       {"pw", "abcdef"},      {"\xE1\xFF\x80", "\x80"}, {"", "\0\0"s},
      {"pw", "[`"},   {"pw", ":@"},       {"pw", "{\x7F"},       {"pw", "\xFF\xFF"},     {std::string(600, 'x'), "q"},
  };
  for (int b = 0; b < 256; ++b) {  // every byte value at every password position and in each salt byte
    std::string password;
    for (int i = 0; i < 8; ++i) password += static_cast<char>(b + i);
    cases.push_back({password, {static_cast<char>(b), static_cast<char>(b * 7)}});
  }
  const std::size_t lanes = GetParam().lanes;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, lanes - 1, lanes, lanes + 1,
                                 2 * lanes + 3, cases.size()}) {
    Batch batch;
    for (std::size_t i = 0; i < size; ++i) {
      const auto& [password, salt] = cases[(size + i) % cases.size()];
      batch.Add(password, salt);
    }
    const std::vector<std::string> results = batch.Hash(GetParam().hash);
    for (std::size_t i = 0; i < size; ++i)
      ASSERT_EQ(results[i], DesCrypt(batch.passwords[i], batch.salts[i]))
          << "batch of " << size << ", lane " << i << ": " << testing::PrintToString(batch.passwords[i]) << " "
          << testing::PrintToString(batch.salts[i]);
  }
}

// A million random inputs over all variants (a 16th of that in the sanitizer build, which is
// many times slower), against DesCrypt and the system's crypt(3). Any byte goes anywhere: the
// oracle takes no NUL and only alphabet salts, so it is given the first eight password bytes
// with each NUL as 0x80 (the same seven key bits) and the alphabet salt of the same value.
TEST_P(DesCryptBatchVariant, AgreesWithDesCryptAndTheSystemCrypt) {
#ifdef __SANITIZE_ADDRESS__
  const std::size_t count = (1 << 16) / BatchVariants().size();
#else
  const std::size_t count = (1 << 20) / BatchVariants().size();
#endif
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  Batch batch;
  for (std::size_t i = 0; i < count; ++i) {
    std::string password, salt;
    for (std::size_t n = random() % 12; n > 0; --n) password += static_cast<char>(random());
    for (std::size_t n = random() % 4; n > 0; --n) salt += random() % 4 ? CryptAlphabet[random() % 64] : char(random());
    batch.Add(password, salt);
  }
  const std::vector<std::string> results = batch.Hash(GetParam().hash);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& password = batch.passwords[i];
    ASSERT_EQ(results[i], DesCrypt(password, batch.salts[i])) << testing::PrintToString(password);
    std::string key = password.substr(0, 8);
    std::replace(key.begin(), key.end(), '\0', '\x80');
    const SaltBytes salt = TakeSalt(batch.salts[i]);
    const std::string twin{CryptAlphabet[SaltLowMap[salt.s1]], CryptAlphabet[SaltLowMap[salt.s2]]};
    ASSERT_EQ(results[i].substr(2), System(key, twin).substr(2)) << testing::PrintToString(password);
  }
}

INSTANTIATE_TEST_SUITE_P(Each, DesCryptBatchVariant, testing::ValuesIn(BatchVariants().begin(), BatchVariants().end()),
                         [](const auto& variant) { return std::string(variant.param.name); });

// The public entry point, from several threads at once, on batches whose lengths leave it rests
// of different sizes for the narrower variants.
TEST(DesCryptBatch, HashesLikeDesCryptFromSeveralThreads) {
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t)
    threads.emplace_back([t, &wrong] {
      Batch batch;
      for (std::size_t i = 0; i < 700 + 300 * t; ++i)
        batch.Add("user" + std::to_string(4 * i + t), {CryptAlphabet[i % 64], CryptAlphabet[t]});
      const std::vector<std::string> results = batch.Hash(&DesCryptBatch);
      for (std::size_t i = 0; i < results.size(); ++i)
        wrong += results[i] != DesCrypt(batch.passwords[i], batch.salts[i]);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  const std::vector<std::string_view> two(2);
  std::vector<std::string> one(1);
  EXPECT_THROW(DesCryptBatch(two, two, one), std::invalid_argument) << "spans of other sizes";
}
