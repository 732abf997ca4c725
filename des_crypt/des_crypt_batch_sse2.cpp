// The bitsliced hash on 128-bit SSE2 registers, 128 lanes at a time.
#include "des_crypt/des_crypt_internal.h"

#if DES_CRYPT_X86
#define DES_CRYPT_LANES_FUNCTION [[gnu::always_inline, gnu::target("sse2")]] inline
#include "des_crypt/bitslice.h"

namespace des_crypt::internal {

using Sse2Register = std::uint64_t __attribute__((vector_size(16)));

[[gnu::target("sse2")]] void DesCryptBatchSse2(std::span<const std::string_view> passwords,
                                               std::span<const std::string_view> salts,
                                               std::span<std::string> results) {
  HashLanes<TTwoInputLanes<Sse2Register, 2>>(passwords, salts, results);
}

}  // namespace des_crypt::internal
#endif
