// The AVX form of the packed kernels (kernel_forms.h, kernel_tiles.h):
// register tiles of 8 rows by 6 or 4 columns in 256-bit vectors. Built with
// -mavx -ffp-contract=off: separate rounded multiplies and adds, never fused.
#include <immintrin.h>

#include "kernel_tiles.h"

namespace tavrel8x4 {
namespace {

struct Avx {
    using V = __m256d;
    static constexpr int kLanes = 4;
    static constexpr Blocking kBlocking = {
        1,  // 8 rows: two A vectors per k-step
        6,  // 12 sums, 2 A vectors, a broadcast and a product fill the 16 registers
        std::size_t{16} << 10,  // B chunk beside an 8-row block of A in a 32 KiB L1
        false,                  // tiles are one block tall: nothing to split
        512,                    // 8 k-steps ahead: packed A arrives from L2 before its step
        true,                   // a chunk is small: the next one comes into L1 while this one runs
    };

    // The micro-kernel (contract in kernel_tiles.h), written as instructions
    // because GCC otherwise spills the sums: they stay in ymm0..ymm11 from the
    // first k-step to the last, ymm12/13 hold A (32-byte aligned), ymm14 a
    // broadcast B value and ymm15 a product. B is read at constant offsets
    // from p and q, which move once per pass.
    template <int R, int NC, int kFirst, class L>
    static inline __attribute__((always_inline)) void Sum(V (&acc)[NC][2], bool carry, long K,
                                                          const double* a, ptrdiff_t,
                                                          const BColumns& b) {
        static_assert(R == 1 && (NC == 4 ? kFirst == 4 : NC == 6 && (kFirst == 4 || kFirst == 2)),
                      "8x4 tiles from one group, 8x6 tiles from two");
        const double *p = b.first, *q = b.second;
        long single = K % 4, passes = K / 4;
// clang-format off
// Column c of k-step s of the pass from pointer x; the sums lo and hi gain
// its products with the two A vectors.
#define TAVREL_COLUMN(x, c, s, lo, hi)                                \
    "vbroadcastsd " #s "*%c[step]+" #c "*%c[col](%[" #x "]), %%ymm14\n\t" \
    "vmulpd %%ymm14, %%ymm12, %%ymm15\n\t"                             \
    "vaddpd %%ymm15, %%ymm" #lo ", %%ymm" #lo "\n\t"                   \
    "vmulpd %%ymm14, %%ymm13, %%ymm14\n\t"                             \
    "vaddpd %%ymm14, %%ymm" #hi ", %%ymm" #hi "\n\t"
#define TAVREL_TWO(x, s, r0, r1, r2, r3) \
    TAVREL_COLUMN(x, 0, s, r0, r1) TAVREL_COLUMN(x, 1, s, r2, r3)
#define TAVREL_FOUR(x, s, r0, r1, r2, r3, r4, r5, r6, r7) \
    TAVREL_TWO(x, s, r0, r1, r2, r3) TAVREL_COLUMN(x, 2, s, r4, r5) TAVREL_COLUMN(x, 3, s, r6, r7)
#define TAVREL_4(s) TAVREL_FOUR(p, s, 0, 1, 2, 3, 4, 5, 6, 7)
#define TAVREL_4_2(s) TAVREL_4(s) TAVREL_TWO(q, s, 8, 9, 10, 11)
#define TAVREL_2_4(s) TAVREL_TWO(p, s, 0, 1, 2, 3) TAVREL_FOUR(q, s, 4, 5, 6, 7, 8, 9, 10, 11)
#define TAVREL_EIGHT(OP) OP(0) OP(1) OP(2) OP(3) OP(4) OP(5) OP(6) OP(7)
#define TAVREL_TWELVE(OP) TAVREL_EIGHT(OP) OP(8) OP(9) OP(10) OP(11)
#define TAVREL_LOAD(r) "vmovapd 32*" #r "(%[acc]), %%ymm" #r "\n\t"
#define TAVREL_ZERO(r) "vxorpd %%ymm" #r ", %%ymm" #r ", %%ymm" #r "\n\t"
#define TAVREL_STORE(r) "vmovapd %%ymm" #r ", 32*" #r "(%[acc])\n\t"
#define TAVREL_STEP(s, COLUMNS)                   \
    "vmovapd 64*" #s "(%[a]), %%ymm12\n\t"        \
    "vmovapd 64*" #s "+32(%[a]), %%ymm13\n\t"     \
    "prefetcht0 %c[ahead]+64*" #s "(%[a])\n\t" COLUMNS(s)
#define TAVREL_MOVE(steps)                 \
    "add $64*" #steps ", %[a]\n\t"         \
    "add $" #steps "*%c[step], %[p]\n\t"   \
    "add $" #steps "*%c[step], %[q]\n\t"
// The sums from acc or from zero, the first K % 4 k-steps one by one, then
// four per pass, the sums back to acc.
#define TAVREL_LOOP(SUMS, COLUMNS)                                                            \
    "test %[carry], %[carry]\n\t"                                                             \
    "jz 5f\n\t" SUMS(TAVREL_LOAD) "jmp 6f\n\t"                                                \
    "5:\n\t" SUMS(TAVREL_ZERO) "6:\n\t"                                                       \
    "test %[single], %[single]\n\t"                                                           \
    "jz 2f\n\t"                                                                               \
    "1:\n\t" TAVREL_STEP(0, COLUMNS) TAVREL_MOVE(1) "dec %[single]\n\t"                       \
    "jnz 1b\n\t"                                                                              \
    "2:\n\t"                                                                                  \
    "test %[passes], %[passes]\n\t"                                                           \
    "jz 4f\n\t"                                                                               \
    "3:\n\t" TAVREL_STEP(0, COLUMNS) TAVREL_STEP(1, COLUMNS) TAVREL_STEP(2, COLUMNS)          \
        TAVREL_STEP(3, COLUMNS) TAVREL_MOVE(4) "dec %[passes]\n\t"                            \
    "jnz 3b\n\t"                                                                              \
    "4:\n\t" SUMS(TAVREL_STORE)                                                               \
    : [a] "+r"(a), [p] "+r"(p), [q] "+r"(q), [single] "+r"(single), [passes] "+r"(passes)     \
    : [acc] "r"(&acc[0][0]), [carry] "r"(carry), [step] "i"(8 * L::kStep),                    \
      [col] "i"(8 * L::kColumn), [ahead] "i"(kBlocking.a_prefetch_bytes)                      \
    : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", \
      "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory"
        if constexpr (NC == 4) {
            __asm__ volatile(TAVREL_LOOP(TAVREL_EIGHT, TAVREL_4));
        } else if constexpr (kFirst == 4) {
            __asm__ volatile(TAVREL_LOOP(TAVREL_TWELVE, TAVREL_4_2));
        } else {
            __asm__ volatile(TAVREL_LOOP(TAVREL_TWELVE, TAVREL_2_4));
        }
        // clang-format on
    }
};

}  // namespace

void MultiplyAvx(const Product& product) { MultiplyIn<Avx>(product); }

}  // namespace tavrel8x4
