// DesCryptBatch on the bitsliced variants that the processor running it supports, found once.
// This file also holds the portable variant, which every processor runs.
#include "des_crypt/des_crypt.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#define DES_CRYPT_LANES_FUNCTION [[gnu::always_inline]] inline
#include "des_crypt/bitslice.h"

namespace des_crypt::internal {

void DesCryptBatchPortable(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                           std::span<std::string> results) {
  HashLanes<TTwoInputLanes<std::uint64_t, 1>>(passwords, salts, results);
}

std::span<const TBatchVariant> BatchVariants() {
  static const std::array variants = {
      TBatchVariant{"portable", 64, &DesCryptBatchPortable, [] { return true; }},
#if DES_CRYPT_X86
      TBatchVariant{"sse2", 128, &DesCryptBatchSse2, [] { return __builtin_cpu_supports("sse2") != 0; }},
      TBatchVariant{"avx2", 256, &DesCryptBatchAvx2, [] { return __builtin_cpu_supports("avx2") != 0; }},
      TBatchVariant{"avx512", 512, &DesCryptBatchAvx512, [] { return __builtin_cpu_supports("avx512f") != 0; }},
#endif
  };
  return variants;
}

}  // namespace des_crypt::internal

// Whole passes on the widest variant; what is left, in one pass on the narrowest variant wide
// enough for it, since a pass on narrower registers costs less (on the machine this was written
// on, 64 lanes on integers take 0.6 times as long as 512 on AVX-512).
void DesCryptBatch(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                   std::span<std::string> results) {
  using des_crypt::internal::TBatchVariant;
  // Spans of other sizes would have lanes read or written past an end: a caller's mistake that
  // must not pass quietly in a release build either.
  if (passwords.size() != results.size() || salts.size() != results.size())
    throw std::invalid_argument("DesCryptBatch: passwords, salts and results differ in size");
  static const std::vector<TBatchVariant> supported = [] {
    std::vector<TBatchVariant> variants;
    for (const TBatchVariant& v : des_crypt::internal::BatchVariants())
      if (v.supported()) variants.push_back(v);
    return variants;
  }();
  const TBatchVariant& widest = supported.back();
  const std::size_t whole = results.size() - results.size() % widest.lanes;
  widest.hash(passwords.first(whole), salts.first(whole), results.first(whole));
  if (whole == results.size()) return;
  const auto fits = [rest = results.size() - whole](const TBatchVariant& v) { return v.lanes >= rest; };
  std::find_if(supported.begin(), supported.end(), fits)
      ->hash(passwords.subspan(whole), salts.subspan(whole), results.subspan(whole));
}
