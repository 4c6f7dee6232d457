// The AVX-512 form of the packed kernels (kernel_forms.h, kernel_tiles.h):
// register tiles of up to three 8-row blocks (one 512-bit vector of packed A
// each per k-step) by 8 or 4 columns, up to 24 sums, 3 A vectors and the
// broadcasts in the 32 vector registers. Built with -mavx512f
// -ffp-contract=off: separate rounded multiplies and adds, never fused.
#include <immintrin.h>

#include "Tavrel_8x4_tuning.h"
#include "kernel_tiles.h"

namespace tavrel8x4 {
namespace {

struct Avx512 {
    using V = __m512d;
    static constexpr int kLanes = 8;
    static constexpr Blocking kBlocking = {
        3,  // 24 rows: 24 sums, 3 A vectors and the broadcasts fit 32 registers
        8,  // two groups of 4 side by side: one broadcast per 3 products
        std::size_t{384} << 10,  // B chunk in a 1 MiB L2 beside a call's A (192 x 176: 264 KiB)
        true,   // a lone block spends a broadcast on every product: 2 + 2, not 3 + 1
        0,      // a row group's A stays in L1 across the chunk; prefetching it is 4-5 % slower
        false,  // a chunk fills L2: fetching the next one would only evict it
    };
    static_assert(8 * kBlocking.row_blocks == kCallRowUnit && kBlocking.columns == kCallColumnUnit,
                  "the tallest and widest tiles are the call units of Tavrel_8x4_tuning.h");

    // The micro-kernel (contract in kernel_tiles.h); two k-steps a pass, half
    // the loop's own instructions.
    template <int R, int NC, int kFirst, class L>
    static inline __attribute__((always_inline)) void Sum(V (&acc)[NC][R], bool carry, long K,
                                                          const double* a, ptrdiff_t a_block,
                                                          const BColumns& b) {
        const double* columns[NC];
        for (int j = 0; j < NC; ++j) {
            for (int r = 0; !carry && r < R; ++r) acc[j][r] = _mm512_setzero_pd();
            columns[j] =
                j < kFirst ? b.first + j * L::kColumn : b.second + (j - kFirst) * L::kColumn;
        }
#pragma GCC unroll 2
        for (long k = 0; k < K; ++k) {
            V av[R];
            for (int r = 0; r < R; ++r) av[r] = _mm512_loadu_pd(a + r * a_block + 8 * k);
            for (int j = 0; j < NC; ++j) {
                const V bj = _mm512_set1_pd(columns[j][k * L::kStep]);
                for (int r = 0; r < R; ++r) acc[j][r] = acc[j][r] + av[r] * bj;
            }
        }
    }
};

// Zeroes zmm16..zmm31, which the tiles use and vzeroupper (at the return)
// leaves as they are: while they hold non-zero upper bits, later SSE code in
// the process (the SSE2 kernel of libTavrel, for one) runs markedly slower.
void ClearUpperRegisters() {
// clang-format off
#define TAVREL_ZERO(n) "vpxord %%xmm" #n ", %%xmm" #n ", %%xmm" #n "\n\t"
    __asm__ volatile(TAVREL_ZERO(16) TAVREL_ZERO(17) TAVREL_ZERO(18) TAVREL_ZERO(19) TAVREL_ZERO(20)
                     TAVREL_ZERO(21) TAVREL_ZERO(22) TAVREL_ZERO(23) TAVREL_ZERO(24) TAVREL_ZERO(25)
                     TAVREL_ZERO(26) TAVREL_ZERO(27) TAVREL_ZERO(28) TAVREL_ZERO(29) TAVREL_ZERO(30)
                     TAVREL_ZERO(31)::
                         : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23",
                           "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
#undef TAVREL_ZERO
    // clang-format on
}

}  // namespace

void MultiplyAvx512(const Product& product) {
    MultiplyIn<Avx512>(product);
    ClearUpperRegisters();
}

}  // namespace tavrel8x4
