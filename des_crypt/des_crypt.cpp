// The fast hash: the same steps as DesCryptReference, with the bits of a half-block in one word.
// Its working tables are computed at compile time from the named tables, and the static_asserts
// below prove each word-level step equal to the bit-level step it replaces; the tests then
// compare the whole against the reference and the system's crypt(3).
//
// A half-block position p is bit 31 - p of a 32-bit word. The 48 expansion bits live in a
// 64-bit word, one S-box's six bits in the low six bits of each byte, first bit highest.
#include "des_crypt/des_crypt.h"

#include <bit>

#include "des_crypt/des_crypt_internal.h"

namespace {

using namespace des_crypt::internal;

constexpr std::uint32_t HalfBit(std::size_t position) { return std::uint32_t{1} << (31 - position); }

// Bits 4k - 1 to 4k + 4 feed S-box k. One rotation brings the even groups' bits to the low six
// bits of each byte at once, another the odd groups', so the expansion is two rotations, a shift
// and a mask: groups 0, 2, 4, 6 land in bytes 7, 6, 5, 4 and groups 1, 3, 5, 7 in bytes 3, 2, 1, 0.
constexpr std::array<std::size_t, 8> GroupByte = {7, 3, 6, 2, 5, 1, 4, 0};
constexpr std::uint64_t Expand(std::uint32_t r) {
  const std::uint64_t both = std::uint64_t{std::rotr(r, 3)} << 32 | std::rotl(r, 1);
  return both & 0x3f3f3f3f3f3f3f3f;
}

// Where expansion bit j (0 to 47, the j-th entry of ETable) sits in the expansion word.
constexpr std::size_t ExpansionBit(std::size_t j) { return 8 * GroupByte[j / 6] + 5 - j % 6; }

static_assert([] {
  for (std::size_t p = 0; p < 32; ++p) {
    std::uint64_t expected = 0;
    for (std::size_t j = 0; j < 48; ++j)
      if (ETable[j] == p) expected |= std::uint64_t{1} << ExpansionBit(j);
    if (Expand(HalfBit(p)) != expected) return false;  // Expand is linear: one bit at a time suffices
  }
  return true;
}());

// The salt exchanges expansion bits i and i + 24 (i < 12), that is bits of groups 0 and 1 with
// the same bits of groups 4 and 5, which this layout keeps 16 bits apart: one masked delta swap
// salts all eight groups at once.
constexpr std::uint64_t SaltSwapMask(unsigned salt_word) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 12; ++i)
    if ((salt_word >> i) & 1) mask |= std::uint64_t{1} << ExpansionBit(i + 24);
  return mask;
}
constexpr std::uint64_t Salt(std::uint64_t x, std::uint64_t mask) {
  const std::uint64_t t = (x ^ x >> 16) & mask;
  return x ^ t ^ t << 16;
}

static_assert([] {
  for (std::size_t i = 0; i < 12; ++i) {
    const std::uint64_t mask = SaltSwapMask(1u << i);
    for (std::size_t j = 0; j < 48; ++j) {
      const std::size_t to = j == i ? i + 24 : j == i + 24 ? i : j;
      if (Salt(std::uint64_t{1} << ExpansionBit(j), mask) != std::uint64_t{1} << ExpansionBit(to)) return false;
    }
  }
  return true;
}());

// By byte of the expansion word and that byte's six bits (first bit highest): the S-box output,
// already scattered to its half-block positions through P.
constexpr auto SpreadSBox = [] {
  std::array<std::array<std::uint32_t, 64>, 8> table{};
  for (std::size_t k = 0; k < 8; ++k)
    for (std::size_t g = 0; g < 64; ++g) {
      const std::size_t row = (g >> 4 & 2) | (g & 1), column = g >> 1 & 15;
      const unsigned y = SBoxTable[64 * k + 16 * row + column];
      std::uint32_t word = 0;
      for (std::size_t m = 0; m < 4; ++m)
        if (y >> (3 - m) & 1) word |= HalfBit(PTarget[4 * k + m]);
      table[GroupByte[k]][g] = word;
    }
  return table;
}();

// The key schedule folded into one table: for key byte i, the low four bits (entries 0 to 15) or
// the next three (entries 16 to 23) as an index, the bits they give all sixteen round keys, laid
// out as expansion words. A round key is the OR of sixteen entries, two per key byte.
constexpr auto RoundKeyPieces = [] {
  std::array<std::array<std::array<std::uint64_t, 16>, 24>, 8> table{};
  for (std::size_t a = 0; a < 768; ++a) {
    const std::size_t byte = KeyBitByte[a] - 1u, shift = KeyBitShift[a];
    const std::size_t first = shift < 4 ? 0 : 16, bit = shift % 4, values = shift < 4 ? 16 : 8;
    for (std::size_t v = 0; v < values; ++v)
      if (v >> bit & 1) table[byte][first + v][a / 48] |= std::uint64_t{1} << ExpansionBit(a % 48);
  }
  return table;
}();

std::array<std::uint64_t, 16> RoundKeys(const KeyBytes& key) {
  std::array<std::uint64_t, 16> round_keys{};
  for (std::size_t i = 0; i < 8; ++i) {
    const auto& low = RoundKeyPieces[i][key[i] & 15u];
    const auto& high = RoundKeyPieces[i][16 + (key[i] >> 4 & 7u)];
    for (std::size_t r = 0; r < 16; ++r) round_keys[r] |= low[r] | high[r];
  }
  return round_keys;
}

// The whole round in the expansion layout: the halves are kept expanded and salted, and each
// S-box entry holds its output already scattered through P, expanded and salted. A round is then
// a key XOR, eight lookups and an XOR: no expansion or salting stands in the chain from one round
// to the next, which is what bounds the speed. Expansion and salting are linear, so expanding and
// salting the XOR of the entries is the XOR of the expanded, salted entries.
constexpr auto ExpandedSBox = [] {
  std::array<std::array<std::uint64_t, 64>, 8> table{};
  for (std::size_t b = 0; b < 8; ++b)
    for (std::size_t g = 0; g < 64; ++g) table[b][g] = Expand(SpreadSBox[b][g]);
  return table;
}();

// Which expansion bit holds each half-block position (the first of the one or two that do).
constexpr auto HalfFromExpansion = [] {
  std::array<std::uint8_t, 32> table{};
  for (std::size_t j = 48; j-- > 0;) table[ETable[j]] = static_cast<std::uint8_t>(ExpansionBit(j));
  return table;
}();

std::uint32_t Contract(std::uint64_t expanded) {
  std::uint32_t half = 0;
  for (std::size_t p = 0; p < 32; ++p)
    if (expanded >> HalfFromExpansion[p] & 1) half |= HalfBit(p);
  return half;
}

static_assert([] {
  for (std::size_t p = 0; p < 32; ++p)
    if ([](std::uint64_t e) {
          std::uint32_t half = 0;
          for (std::size_t q = 0; q < 32; ++q)
            if (e >> HalfFromExpansion[q] & 1) half |= HalfBit(q);
          return half;
        }(Expand(HalfBit(p))) != HalfBit(p))
      return false;
  return true;
}());

// The salted copy of ExpandedSBox for one call: 512 independent swaps, cheap beside 400 rounds.
using SBoxes = std::array<std::array<std::uint64_t, 64>, 8>;
void SaltSBoxes(SBoxes& salted, std::uint64_t salt_mask) {
  for (std::size_t b = 0; b < 8; ++b)
    for (std::size_t g = 0; g < 64; ++g) salted[b][g] = Salt(ExpandedSBox[b][g], salt_mask);
}

inline std::uint64_t Feistel(const SBoxes& t, std::uint64_t r, std::uint64_t round_key) {
  const std::uint64_t x = r ^ round_key;
  return (t[0][x & 63] ^ t[1][x >> 8 & 63]) ^ (t[2][x >> 16 & 63] ^ t[3][x >> 24 & 63]) ^
         (t[4][x >> 32 & 63] ^ t[5][x >> 40 & 63]) ^ (t[6][x >> 48 & 63] ^ t[7][x >> 56]);
}

}  // namespace

std::string DesCrypt(std::string_view password, std::string_view salt) {
  const std::array<std::uint64_t, 16> round_keys = RoundKeys(MakeKeyBytes(password));
  const TSaltBytes salt_bytes = TakeSalt(salt);
  const std::uint64_t salt_mask = SaltSwapMask(SaltWord(salt_bytes));
  SBoxes t;
  SaltSBoxes(t, salt_mask);

  // Both halves start as zero, which is zero expanded and salted too.
  std::uint64_t l = 0, r = 0;
  for (int encryption = 0; encryption < 25; ++encryption) {
    // Two rounds per step, each half updated in place: the exchange between rounds costs nothing.
    for (std::size_t round = 0; round < 16; round += 2) {
      l ^= Feistel(t, r, round_keys[round]);
      r ^= Feistel(t, l, round_keys[round + 1]);
    }
    std::swap(l, r);  // round 16 exchanges nothing, so the halves end up the other way round
  }
  // Salting is its own inverse: unsalt, then read each position from an expansion bit.
  const std::uint32_t left = Contract(Salt(l, salt_mask)), right = Contract(Salt(r, salt_mask));

  std::uint64_t o = 0;
  for (std::size_t i = 0; i < 64; ++i) o = o << 1 | ((i % 2 == 0 ? right : left) >> (31 - FinalPerm[i]) & 1);

  std::string result{static_cast<char>(salt_bytes.s1), static_cast<char>(salt_bytes.s2)};
  for (int shift = 58; shift > 0; shift -= 6) result += CryptAlphabet[o >> shift & 63];
  result += CryptAlphabet[(o & 15) << 2];
  return result;
}
