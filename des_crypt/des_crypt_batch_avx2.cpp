// The bitsliced hash on 256-bit AVX2 registers, 256 lanes at a time.
#include "des_crypt/des_crypt_internal.h"

#if DES_CRYPT_X86
#define DES_CRYPT_LANES_FUNCTION [[gnu::always_inline, gnu::target("avx2")]] inline
#include "des_crypt/bitslice.h"

namespace des_crypt::internal {

using Avx2Register = std::uint64_t __attribute__((vector_size(32)));

[[gnu::target("avx2")]] void DesCryptBatchAvx2(std::span<const std::string_view> passwords,
                                               std::span<const std::string_view> salts,
                                               std::span<std::string> results) {
  HashLanes<TTwoInputLanes<Avx2Register, 4>>(passwords, salts, results);
}

}  // namespace des_crypt::internal
#endif
