// The hash one bit per byte, in the order the algorithm is usually explained: key schedule,
// salted expansion, 25 encryptions of the zero block, final permutation, six bits a character.
// Every step is one table lookup away from FIPS 46-3, which is what makes it the yardstick.
#include <utility>

#include "des_crypt/des_crypt_internal.h"

namespace des_crypt::internal {

std::array<std::uint16_t, 128> MakeRoundKeyIndex(const KeyBytes& key) {
  std::array<std::uint8_t, 768> bits{};
  for (std::size_t a = 0; a < bits.size(); ++a)
    bits[a] = static_cast<std::uint8_t>((key[KeyBitByte[a] - 1u] >> KeyBitShift[a]) & 1);
  std::array<std::uint16_t, 128> index{};
  for (std::size_t e = 0; e < index.size(); ++e) {
    const std::uint8_t* b = &bits[6 * e];
    index[e] = static_cast<std::uint16_t>(64 * static_cast<int>(e % 8) + 32 * b[0] + 16 * b[5] + 8 * b[1] +
                                          4 * b[2] + 2 * b[3] + b[4]);
  }
  return index;
}

std::string DesCryptReference(std::string_view password, std::string_view salt) {
  const std::array<std::uint16_t, 128> round_key_index = MakeRoundKeyIndex(MakeKeyBytes(password));

  const TSaltBytes salt_bytes = TakeSalt(salt);
  const unsigned salt_word = SaltWord(salt_bytes);
  std::array<std::uint8_t, 48> e = ETable;
  for (std::size_t i = 0; i < 12; ++i)
    if ((salt_word >> i) & 1) std::swap(e[i], e[i + 24]);

  // The zero block is its own initial permutation, so IP never has to be applied.
  std::array<std::uint8_t, 32> l{}, r{}, n{};
  for (int encryption = 0; encryption < 25; ++encryption) {
    for (std::size_t round = 0; round < 16; ++round) {
      // The last round leaves the halves where they are: writing into L directly is the
      // exchange after round 16 that IP^-1 expects, undone.
      std::array<std::uint8_t, 32>& out = round < 15 ? n : l;
      for (std::size_t k = 0; k < 8; ++k) {
        const std::uint8_t* g = &e[6 * k];
        const unsigned index = 32u * r[g[0]] + 16u * r[g[5]] + 8u * r[g[1]] + 4u * r[g[2]] + 2u * r[g[3]] + r[g[4]];
        const unsigned y = SBoxTable[index ^ round_key_index[8 * round + k]];
        for (std::size_t m = 0; m < 4; ++m) {
          const std::size_t position = PTarget[4 * k + m];
          out[position] = static_cast<std::uint8_t>(((y >> (3 - m)) & 1) ^ l[position]);
        }
      }
      if (round < 15) {
        l = r;
        r = n;
      }
    }
  }

  std::array<std::uint8_t, 64> o{};
  for (std::size_t i = 0; i < o.size(); ++i) o[i] = (i % 2 == 0 ? r : l)[FinalPerm[i]];

  std::string result{static_cast<char>(salt_bytes.s1), static_cast<char>(salt_bytes.s2)};
  for (std::size_t g = 0; g < 11; ++g) {
    unsigned value = 0;
    for (std::size_t b = 6 * g; b < 6 * g + 6; ++b) value = 2 * value + (b < 64 ? o[b] : 0u);
    result += CryptAlphabet[value];
  }
  return result;
}

}  // namespace des_crypt::internal
