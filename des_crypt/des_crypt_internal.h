// Inner steps of the crypt(3) hash, for the tests and the benchmark: the tables both
// implementations work from, and the portable reference that the fast DesCrypt must agree with.
// Not part of the module's interface.
//
// Numbering convention of the tables below: positions count from 0, position 0 being FIPS 46-3
// bit 1 (the most significant). A half-block has positions 0 to 31, a round key 0 to 47.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "des_crypt/des_crypt.h"
#include "des_crypt/fips46_tables.h"

namespace des_crypt::internal {

using ::CryptAlphabet;

// The 6-bit value of a salt byte. On the alphabet it is the character's position; every other
// byte follows the same three linear pieces (the gaps ":"-"@" and "["-"`" are closed up), so a
// stray byte still gives a value in 0 to 63 and a hash, as crypt(3) always has.
constexpr std::uint8_t SaltValue(std::uint8_t x) {
  const int value = x <= '9' ? x - '.' : x <= 'Z' ? x - ('A' - 12) : x - ('a' - 38);
  return static_cast<std::uint8_t>(value & 63);  // & 63 is mod 64, also for the negatives
}

// Salt byte 1 gives bits 0 to 5 of the salt word, salt byte 2 bits 6 to 11: a salt word is
// SaltLowMap[s1] | SaltHighMap[s2].
inline constexpr std::array<std::uint8_t, 256> SaltLowMap = [] {
  std::array<std::uint8_t, 256> map{};
  for (std::size_t x = 0; x < 256; ++x) map[x] = SaltValue(static_cast<std::uint8_t>(x));
  return map;
}();
inline constexpr std::array<std::uint16_t, 256> SaltHighMap = [] {
  std::array<std::uint16_t, 256> map{};
  for (std::size_t x = 0; x < 256; ++x) map[x] = static_cast<std::uint16_t>(SaltLowMap[x] * 64);
  return map;
}();

// The key bit (1 to 64, FIPS 46-3 numbering) at position j of round key r: CD is PC-1 of the key,
// C and D turned left by the shift schedule summed over rounds 0 to r, and PC-2 picks from CD.
constexpr int RoundKeySource(int r, int j) {
  int turn = 0;
  for (int round = 0; round <= r; ++round) turn += fips46::KeyShifts[static_cast<std::size_t>(round)];
  const int cd = fips46::PC2[static_cast<std::size_t>(j)] - 1;  // 0 to 55
  const int half = cd / 28 * 28;                                 // C or D
  // An index from 0 to 55: the int sum it is widened from cannot overflow.
  // NOLINTNEXTLINE(bugprone-misplaced-widening-cast)
  return fips46::PC1[static_cast<std::size_t>(half + (cd - half + turn) % 28)];
}

// Entry 48r + j: key byte (1 to 8) and right shift (0 to 6) of the bit at position j of round key r.
// A key byte is a password byte; DES sees it shifted left by one, so key bit z sits at shift
// 6 - (z - 1) mod 8, and the parity bits (shift -1), which PC-1 never picks, fall off the bottom.
inline constexpr std::array<std::uint8_t, 768> KeyBitByte = [] {
  std::array<std::uint8_t, 768> table{};
  for (int a = 0; a < 768; ++a)
    table[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>((RoundKeySource(a / 48, a % 48) - 1) / 8 + 1);
  return table;
}();
inline constexpr std::array<std::uint8_t, 768> KeyBitShift = [] {
  std::array<std::uint8_t, 768> table{};
  for (int a = 0; a < 768; ++a)
    table[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(6 - (RoundKeySource(a / 48, a % 48) - 1) % 8);
  return table;
}();

// E of FIPS 46-3 as half-block positions. The salt exchanges entries i and i + 24 of a copy.
inline constexpr std::array<std::uint8_t, 48> ETable = [] {
  std::array<std::uint8_t, 48> table{};
  for (std::size_t i = 0; i < 48; ++i) table[i] = static_cast<std::uint8_t>(fips46::E[i] - 1);
  return table;
}();

// S1 to S8 as FIPS 46-3 prints them: S-box k, row w, column u is entry 64k + 16w + u. An index
// with k's offset in it and the six input bits packed as b1 b6 b2 b3 b4 b5 is thus the S-box
// lookup of the standard, and one XOR with a round key packed alike does the key addition.
inline constexpr const std::array<std::uint8_t, 512>& SBoxTable = fips46::S;

// Entry 4k + m: the half-block position that bit m (0 the most significant) of S-box k's output
// goes to. This is P of FIPS 46-3 read backwards, so that each S-box output can be scattered.
inline constexpr std::array<std::uint8_t, 32> PTarget = [] {
  std::array<std::uint8_t, 32> table{};
  for (std::size_t q = 0; q < 32; ++q) table[fips46::P[q] - 1u] = static_cast<std::uint8_t>(q);
  return table;
}();

// Entry i: the half-block position that output bit i comes from, R's for even i and L's for odd
// i. IP^-1 draws its even positions from block bits 33 to 64 and its odd ones from 1 to 32, so
// taking the entries mod 32 loses nothing once the half is known.
inline constexpr std::array<std::uint8_t, 64> FinalPerm = [] {
  std::array<std::uint8_t, 64> table{};
  for (std::size_t i = 0; i < 64; ++i) table[i] = static_cast<std::uint8_t>((fips46::IPInverse[i] - 1) % 32);
  return table;
}();

// The standard's tables are read from memory and typed once; these catch the slips that
// would still let a table look plausible.
constexpr bool SBoxRowsArePermutations() {
  for (std::size_t row = 0; row < 32; ++row) {
    unsigned seen = 0;
    for (std::size_t u = 0; u < 16; ++u) seen |= 1u << SBoxTable[16 * row + u];
    if (seen != 0xffff) return false;
  }
  return true;
}
// True when `table` holds distinct entries from 1 to `limit`, none a multiple of `skip`.
constexpr bool DistinctBits(const auto& table, int limit, int skip) {
  std::array<bool, 65> seen{};
  for (const int bit : table) {
    if (bit < 1 || bit > limit || bit % skip == 0 || seen[static_cast<std::size_t>(bit)]) return false;
    seen[static_cast<std::size_t>(bit)] = true;
  }
  return true;
}
constexpr int Sum(const auto& table) {
  int sum = 0;
  for (const int entry : table) sum += entry;
  return sum;
}
static_assert(SBoxRowsArePermutations());
static_assert(DistinctBits(fips46::P, 32, 33) && DistinctBits(fips46::IPInverse, 64, 65));
static_assert(DistinctBits(fips46::PC1, 64, 8), "PC-1 picks no parity bit");
static_assert(DistinctBits(fips46::PC2, 56, 57));
static_assert(Sum(fips46::KeyShifts) == 28, "C and D come full circle after round 16");

// Key byte i + 1 is password byte i, or 0 past the end of the password.
using KeyBytes = std::array<std::uint8_t, 8>;
constexpr KeyBytes MakeKeyBytes(std::string_view password) {
  KeyBytes key{};
  for (std::size_t i = 0; i < key.size() && i < password.size(); ++i)
    key[i] = static_cast<std::uint8_t>(password[i]);
  return key;
}

// The two salt bytes that count: "Jw" stands in for no salt, 0 for a missing second byte.
struct TSaltBytes {
  std::uint8_t s1;
  std::uint8_t s2;
};
constexpr TSaltBytes TakeSalt(std::string_view salt) {
  if (salt.empty()) salt = "Jw";
  return {static_cast<std::uint8_t>(salt[0]),
          salt.size() > 1 ? static_cast<std::uint8_t>(salt[1]) : std::uint8_t{0}};
}
constexpr unsigned SaltWord(TSaltBytes salt) { return SaltLowMap[salt.s1] | SaltHighMap[salt.s2]; }

// Entry 8r + k: S-box k's six bits of round key r packed as an SBoxTable index (see there).
std::array<std::uint16_t, 128> MakeRoundKeyIndex(const KeyBytes& key);

// The hash computed bit by bit, one bit per byte, straight from the tables above. Slow, and
// the yardstick for DesCrypt.
std::string DesCryptReference(std::string_view password, std::string_view salt);

// The variants of DesCryptBatch, each bitsliced on its own register width: the portable one on
// 64-bit integers, which every processor runs, then wider ones in order of width. DesCryptBatch
// makes whole passes on the widest that is supported and one more on the narrowest that takes
// the rest.
#if defined(__x86_64__) || defined(__i386__)
#define DES_CRYPT_X86 1
#else
#define DES_CRYPT_X86 0
#endif
using BatchFunction = void (*)(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                               std::span<std::string> results);
struct TBatchVariant {
  std::string_view name;
  std::size_t lanes;   // hashes computed side by side in one pass
  BatchFunction hash;  // the contract of DesCryptBatch; only where supported() holds
  bool (*supported)();
};
std::span<const TBatchVariant> BatchVariants();

void DesCryptBatchPortable(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                           std::span<std::string> results);
#if DES_CRYPT_X86
void DesCryptBatchSse2(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                       std::span<std::string> results);
void DesCryptBatchAvx2(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                       std::span<std::string> results);
void DesCryptBatchAvx512(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                         std::span<std::string> results);
#endif

}  // namespace des_crypt::internal
