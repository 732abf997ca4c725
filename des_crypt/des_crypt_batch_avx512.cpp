// The bitsliced hash on 512-bit AVX-512 registers, 512 lanes at a time. AVX-512F's vpternlog
// computes any function of three registers in one instruction, so this variant runs the
// three-input circuits, and the salt exchange and the key addition take fewer steps too.
#include "des_crypt/des_crypt_internal.h"

#if DES_CRYPT_X86
#include <immintrin.h>

#define DES_CRYPT_LANES_FUNCTION [[gnu::always_inline, gnu::target("avx512f")]] inline
#include "des_crypt/bitslice.h"

namespace des_crypt::internal {

// The element type of __m512i, so that the two convert without a cast.
using Avx512Register = long long __attribute__((vector_size(64)));

struct Avx512Lanes {
  using V = Avx512Register;
  static constexpr std::size_t kWords = 8;
  static constexpr bool kThreeInput = true;
  DES_CRYPT_LANES_FUNCTION static V Ones() { return ~V{}; }
  template <unsigned function>
  DES_CRYPT_LANES_FUNCTION static V Gate(V a, V b, V c) {
    return _mm512_ternarylogic_epi64(a, b, c, function);
  }
};

[[gnu::target("avx512f")]] void DesCryptBatchAvx512(std::span<const std::string_view> passwords,
                                                    std::span<const std::string_view> salts,
                                                    std::span<std::string> results) {
  HashLanes<Avx512Lanes>(passwords, salts, results);
}

}  // namespace des_crypt::internal
#endif
