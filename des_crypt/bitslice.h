// The hash of many passwords at once, bitsliced: bit i of every register belongs to lane i, one
// password and salt of the batch, and each step of DES works on one register per bit position,
// so a register operation advances every lane at once. There is no table lookup that depends on
// data: the S-boxes are circuits (sbox_circuits.h) and the permutations are register numbering,
// settled at compile time. Each lane has its own key and its own salt, and DesCrypt's rules hold
// lane by lane.
//
// Written once for any register type. A variant's source file defines DES_CRYPT_LANES_FUNCTION,
// the attributes of every function below (always inlined, plus the processor features the variant
// may use), and then includes this header. Every function here lives in an unnamed namespace, so
// each variant's copy is its own, compiled for its own processor: the linker cannot pick the
// AVX-512 copy of a function for the portable variant.
//
// A Lanes type supplies the register: `V`, `kWords` (64-bit words per register), `kThreeInput`
// (whether Gate computes any three-input function or only the two-input gates of
// TwoInputCircuits), `Ones()` and `Gate<function>(a, b, c)` with functions numbered as in
// sbox_circuits.h.
#pragma once

#ifndef DES_CRYPT_LANES_FUNCTION
#error "define DES_CRYPT_LANES_FUNCTION before including des_crypt/bitslice.h"
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "des_crypt/des_crypt_internal.h"
#include "des_crypt/sbox_circuits.h"

namespace des_crypt::internal {

// Gate functions: truth tables over operands a, b, c as in sbox_circuits.h.
inline constexpr unsigned kAndGate = 0xC0, kOrGate = 0xFC, kXorGate = 0x3C, kAndNotGate = 0x30;
inline constexpr unsigned kXor3Gate = 0x96, kExchangeGate = 0x28;  // a ^ b ^ c and (a ^ b) & c

// Key registers are numbered 7 * (key byte - 1) + shift, the bit's place in its password byte.
// Entry 48r + j: the key register XORed into expansion bit j in round r.
inline constexpr std::array<std::uint8_t, 768> KeyRegister = [] {
  std::array<std::uint8_t, 768> table{};
  for (std::size_t a = 0; a < 768; ++a)
    table[a] = static_cast<std::uint8_t>(7 * (KeyBitByte[a] - 1) + KeyBitShift[a]);
  return table;
}();

namespace {

// The two-input gates of TwoInputCircuits on any type with the bitwise operators.
template <typename Register, std::size_t words>
struct TTwoInputLanes {
  using V = Register;
  static constexpr std::size_t kWords = words;
  static constexpr bool kThreeInput = false;
  DES_CRYPT_LANES_FUNCTION static V Ones() { return ~V{}; }
  template <unsigned function>
  DES_CRYPT_LANES_FUNCTION static V Gate(V a, V b, V /*unused*/) {
    static_assert(function == kAndGate || function == kOrGate || function == kXorGate || function == kAndNotGate);
    if constexpr (function == kAndGate) return a & b;
    if constexpr (function == kOrGate) return a | b;
    if constexpr (function == kXorGate) return a ^ b;
    return a & ~b;
  }
};

template <typename Lanes>
using Register = typename Lanes::V;
template <typename Lanes>
using Half = std::array<Register<Lanes>, 32>;  // register p holds position p of a half-block

template <typename Lanes>
struct TBatch {
  static constexpr std::size_t kLanes = 64 * Lanes::kWords;
  std::array<Register<Lanes>, 56> key;
  std::array<Register<Lanes>, 12> salt;  // bit i of each lane's salt word
  Half<Lanes> left, right;
};

// Transposes a 64 x 64 bit matrix, row r being m[r] and column c its bit c: block by block, the
// upper right quarter of every 2j x 2j block exchanged with its lower left one.
DES_CRYPT_LANES_FUNCTION void Transpose(std::array<std::uint64_t, 64>& m) {
  std::uint64_t mask = 0x00000000FFFFFFFF;
  for (std::size_t j = 32; j != 0; j >>= 1, mask ^= mask << j)
    for (std::size_t k = 0; k < 64; k = (k + j + 1) & ~j) {
      const std::uint64_t t = ((m[k] >> j) ^ m[k + j]) & mask;
      m[k] ^= t << j;
      m[k + j] ^= t;
    }
}

// Word w of a register holds lanes 64w to 64w + 63.
template <typename V>
DES_CRYPT_LANES_FUNCTION void SetWord(V& v, std::size_t w, std::uint64_t word) {
  std::memcpy(reinterpret_cast<unsigned char*>(&v) + 8 * w, &word, sizeof word);
}
template <typename V>
DES_CRYPT_LANES_FUNCTION std::uint64_t GetWord(const V& v, std::size_t w) {
  std::uint64_t word = 0;
  std::memcpy(&word, reinterpret_cast<const unsigned char*>(&v) + 8 * w, sizeof word);
  return word;
}

template <typename Lanes>
DES_CRYPT_LANES_FUNCTION Register<Lanes> Xor3(Register<Lanes> a, Register<Lanes> b, Register<Lanes> c) {
  if constexpr (Lanes::kThreeInput) return Lanes::template Gate<kXor3Gate>(a, b, c);
  return Lanes::template Gate<kXorGate>(Lanes::template Gate<kXorGate>(a, b, b), c, c);
}

// S-box k on its six inputs, XORed into the four left-half registers its outputs go to.
template <typename Lanes, std::size_t k, std::size_t... g>
DES_CRYPT_LANES_FUNCTION void SBox(Half<Lanes>& left, const std::array<Register<Lanes>, 6>& x,
                                   std::index_sequence<g...>) {
  constexpr const TSBoxCircuit& circuit = (Lanes::kThreeInput ? ThreeInputCircuits : TwoInputCircuits)[k];
  std::array<Register<Lanes>, SBoxFirstGate + sizeof...(g)> node;
  for (std::size_t j = 0; j < 6; ++j) node[j] = x[j];
  node[6] = Lanes::Ones();
  for (std::size_t m = 0; m < 4; ++m) node[7 + m] = left[PTarget[4 * k + m]];
  ((node[SBoxFirstGate + g] = Lanes::template Gate<circuit.gates[g].function>(
        node[circuit.gates[g].a], node[circuit.gates[g].b], node[circuit.gates[g].c])),
   ...);
  for (std::size_t m = 0; m < 4; ++m) left[PTarget[4 * k + m]] = node[circuit.outputs[m]];
}

// Expansion bit e of this round: salted, plus the round key. Bit i < 12 of a lane's salt word
// exchanges expansion bits i and i + 24 of that lane; with the lane's (r_a ^ r_b) & salt_i in
// `exchange[i]`, XORing it into both bits makes that exchange.
template <typename Lanes, std::size_t e>
DES_CRYPT_LANES_FUNCTION Register<Lanes> Input(const Half<Lanes>& right,
                                               const std::array<Register<Lanes>, 12>& exchange,
                                               const TBatch<Lanes>& batch, const std::uint8_t* round_key) {
  const Register<Lanes> r = right[ETable[e]], key = batch.key[round_key[e]];
  if constexpr (e < 12 || (e >= 24 && e < 36)) return Xor3<Lanes>(r, exchange[e % 24], key);
  return Lanes::template Gate<kXorGate>(r, key, key);
}

template <typename Lanes, std::size_t k, std::size_t... j>
DES_CRYPT_LANES_FUNCTION void SBoxWithInputs(Half<Lanes>& left, const Half<Lanes>& right,
                                             const std::array<Register<Lanes>, 12>& exchange, const TBatch<Lanes>& batch,
                                             const std::uint8_t* round_key, std::index_sequence<j...>) {
  const std::array<Register<Lanes>, 6> x = {Input<Lanes, 6 * k + j>(right, exchange, batch, round_key)...};
  constexpr std::size_t size = (Lanes::kThreeInput ? ThreeInputCircuits : TwoInputCircuits)[k].size;
  SBox<Lanes, k>(left, x, std::make_index_sequence<size>());
}

template <typename Lanes, std::size_t... k>
DES_CRYPT_LANES_FUNCTION void Round(Half<Lanes>& left, const Half<Lanes>& right, const TBatch<Lanes>& batch,
                                    const std::uint8_t* round_key, std::index_sequence<k...>) {
  std::array<Register<Lanes>, 12> exchange;
  for (std::size_t i = 0; i < 12; ++i) {
    const Register<Lanes> a = right[ETable[i]], b = right[ETable[i + 24]];
    if constexpr (Lanes::kThreeInput) {
      exchange[i] = Lanes::template Gate<kExchangeGate>(a, b, batch.salt[i]);
    } else {
      const Register<Lanes> differ = Lanes::template Gate<kXorGate>(a, b, b);
      exchange[i] = Lanes::template Gate<kAndGate>(differ, batch.salt[i], batch.salt[i]);
    }
  }
  (SBoxWithInputs<Lanes, k>(left, right, exchange, batch, round_key, std::make_index_sequence<6>()), ...);
}

// Hashes passwords[i] under salts[i] into results[i], for up to TBatch::kLanes of them.
template <typename Lanes>
DES_CRYPT_LANES_FUNCTION void HashBatch(std::span<const std::string_view> passwords,
                                        std::span<const std::string_view> salts, std::span<std::string> results) {
  TBatch<Lanes> batch;
  std::array<std::uint64_t, 64> rows;
  // Lanes past the end hash the empty password under salt 0; nobody reads their results.
  for (std::size_t w = 0; w < Lanes::kWords; ++w) {
    for (std::size_t lane = 0; lane < 64; ++lane) {
      const std::size_t i = 64 * w + lane;
      const KeyBytes key = i < passwords.size() ? MakeKeyBytes(passwords[i]) : KeyBytes{};
      rows[lane] = 0;
      for (std::size_t b = 0; b < 8; ++b) rows[lane] |= std::uint64_t{key[b]} << (8 * b);
    }
    Transpose(rows);
    for (std::size_t b = 0; b < 8; ++b)
      for (std::size_t shift = 0; shift < 7; ++shift) SetWord(batch.key[7 * b + shift], w, rows[8 * b + shift]);
    for (std::size_t lane = 0; lane < 64; ++lane) {
      const std::size_t i = 64 * w + lane;
      rows[lane] = i < salts.size() ? SaltWord(TakeSalt(salts[i])) : 0;
    }
    Transpose(rows);
    for (std::size_t bit = 0; bit < 12; ++bit) SetWord(batch.salt[bit], w, rows[bit]);
  }

  // The same rounds as DesCrypt: both halves start as the zero block, each round updates one half
  // in place, and the halves trade places after each encryption.
  batch.left.fill(Register<Lanes>{});
  batch.right.fill(Register<Lanes>{});
  for (int encryption = 0; encryption < 25; ++encryption) {
    for (std::size_t round = 0; round < 16; round += 2) {
      Round<Lanes>(batch.left, batch.right, batch, &KeyRegister[48 * round], std::make_index_sequence<8>());
      Round<Lanes>(batch.right, batch.left, batch, &KeyRegister[48 * round + 48], std::make_index_sequence<8>());
    }
    std::swap(batch.left, batch.right);
  }

  // Row c of the matrix becomes bit c of each lane's 64-bit output, whose most significant bit
  // (bit 63) is the first bit of the hash.
  for (std::size_t w = 0; w < Lanes::kWords; ++w) {
    for (std::size_t c = 0; c < 64; ++c) {
      const std::size_t i = 63 - c;
      rows[c] = GetWord((i % 2 == 0 ? batch.right : batch.left)[FinalPerm[i]], w);
    }
    Transpose(rows);
    for (std::size_t lane = 0; lane < 64 && 64 * w + lane < results.size(); ++lane) {
      const std::size_t i = 64 * w + lane;
      const std::uint64_t o = rows[lane];
      const TSaltBytes salt = TakeSalt(salts[i]);
      std::string& result = results[i];
      result.assign({static_cast<char>(salt.s1), static_cast<char>(salt.s2)});
      for (int shift = 58; shift > 0; shift -= 6) result += CryptAlphabet[o >> shift & 63];
      result += CryptAlphabet[(o & 15) << 2];
    }
  }
}

template <typename Lanes>
DES_CRYPT_LANES_FUNCTION void HashLanes(std::span<const std::string_view> passwords,
                                      std::span<const std::string_view> salts, std::span<std::string> results) {
  constexpr std::size_t lanes = TBatch<Lanes>::kLanes;
  for (std::size_t start = 0; start < results.size(); start += lanes) {
    const std::size_t n = std::min(lanes, results.size() - start);
    HashBatch<Lanes>(passwords.subspan(start, n), salts.subspan(start, n), results.subspan(start, n));
  }
}

}  // namespace
}  // namespace des_crypt::internal
