// The product that the packed kernels hand to a form, a form's blocking
// table, and the choice of the form.
//
// Product (counts in doubles): C(i,j) at c[i + j*ldc], i < M, j < N, gets
// the sum over k < K of A(i,k)*B(k,j) (kernel_tiles.h), written by the rule
// of its region. A packed as Pack_AA_AMD packs it, at aa (32-byte aligned).
// B column j < N4 = N - N%4 at bb + (j/4)*b_group + k*L::kStep + (j%4)*L::kColumn
// in its layout L (below); the tail columns N4..N-1 (nr = N%4) of a packed
// panel at bb + (N4/4)*b_group + nr*k + c.
//
// The form is chosen once, at load: the AVX-512 form where the processor has
// AVX-512F and the operating system saves the SSE, AVX and AVX-512 state
// (XCR0 bits 1, 2, 5, 6 and 7) and TAVREL_8X4_FORM=avx is not set (tests use
// it to cover both forms on one machine), the AVX form otherwise; a program
// may narrow it later (TAVREL_AVX_8X4_LimitFormBits). Both give the same bits.
#pragma once

#include <cstddef>

namespace tavrel8x4 {

// B's layouts, fixed so that the k-loop addresses B by constant offsets. A
// packed panel keeps a k-step's 4 columns side by side; the broadcast format
// (Pack_BB) holds each value 4 times, so its columns are 4 apart.
template <int kStepDoubles, int kColumnDoubles>
struct BLayout {
    static constexpr int kStep = kStepDoubles, kColumn = kColumnDoubles;
};
using PanelB = BLayout<4, 1>;
using BroadcastB = BLayout<16, 4>;

struct Product {
    int M, N, K;
    const double* aa;
    const double* bb;
    std::ptrdiff_t b_group;
    bool broadcast_b;  // B in BroadcastB, whole tiles only (M % 8 == 0, N % 4 == 0); else PanelB
    double* c;
    std::ptrdiff_t ldc;
    double alpha, beta;
};

// A form's blocking, as BLIS keeps one table per configuration.
struct Blocking {
    int row_blocks;            // 8-row blocks in the tallest register tile (MR = 8 * row_blocks)
    int columns;               // columns of the widest register tile (NR)
    std::size_t chunk_bytes;   // packed B per chunk of columns swept by every row group in turn
    bool split_last_four;      // four blocks left: two tiles of two, never a lone block
    int a_prefetch_bytes;      // how far ahead the k-loop prefetches packed A (0: not at all)
    bool prefetch_next_chunk;  // tiles fetch the next chunk of B into L1 while this one runs
};

using Form = void (*)(const Product&);

// 8 x 6 and 8 x 4 register tiles in 256-bit vectors, 16 registers (needs AVX).
void MultiplyAvx(const Product& product);
// Up to 24 x 8 register tiles in 512-bit vectors, 32 registers (needs AVX-512F).
void MultiplyAvx512(const Product& product);

Form CurrentForm();           // the one chosen at load, or AVX after LimitFormBits(256)
int FormBits();               // 512 or 256
int LimitFormBits(int bits);  // see TAVREL_AVX_8X4_LimitFormBits

}  // namespace tavrel8x4
