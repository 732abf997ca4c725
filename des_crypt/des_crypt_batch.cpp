// DesCryptBatch: the widest bitsliced variant that the processor running it supports, chosen
// once. This file also holds the portable variant, which every processor runs.
#define DES_CRYPT_LANES_FUNCTION [[gnu::always_inline]] inline
#include "des_crypt/bitslice.h"

#include "des_crypt/des_crypt.h"

namespace des_crypt::internal {

void DesCryptBatchPortable(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                           std::span<std::string> results) {
  HashAll<TwoInputLanes<std::uint64_t, 1>>(passwords, salts, results);
}

std::span<const BatchVariant> BatchVariants() {
  static const std::array variants = {
      BatchVariant{"portable", 64, &DesCryptBatchPortable, [] { return true; }},
#if DES_CRYPT_X86
      BatchVariant{"sse2", 128, &DesCryptBatchSse2, [] { return __builtin_cpu_supports("sse2") != 0; }},
      BatchVariant{"avx2", 256, &DesCryptBatchAvx2, [] { return __builtin_cpu_supports("avx2") != 0; }},
      BatchVariant{"avx512", 512, &DesCryptBatchAvx512, [] { return __builtin_cpu_supports("avx512f") != 0; }},
#endif
  };
  return variants;
}

}  // namespace des_crypt::internal

void DesCryptBatch(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                   std::span<std::string> results) {
  using des_crypt::internal::BatchVariant;
  static const BatchVariant& best = [] {
    const std::span<const BatchVariant> variants = des_crypt::internal::BatchVariants();
    return *std::find_if(variants.rbegin(), variants.rend(), [](const BatchVariant& v) { return v.supported(); });
  }();
  best.hash(passwords, salts, results);
}
