// The two forms of the 13-argument kernel's main region, the 8-row blocks of
// the whole 4-column panels, and the choice between them.
//
// Region contract (counts in doubles): rows 0..M8-1 (M8 a multiple of 8) and
// columns 0..N4-1 (N4 a multiple of 4) of C, C(i,j) at c[i + j*ldc]. Packed A
// from aa: 8-row block b at 8*K*b, A(8b+i, k) at 8*K*b + 8*k + i (aa 32-byte
// aligned). Packed B from bb: columns j0..j0+3 at K*j0 + 4*k + c. Every
// element is summed in increasing k from zero with a rounded multiply and a
// rounded add, then written by the vector rule (V = alpha*sum; beta == 0.0
// stores V without reading C, otherwise beta*C_old + V). Both forms give the
// same bits.
//
// The form is chosen once, when the library is loaded: the AVX-512 form when
// the processor has AVX-512F and the operating system saves the SSE, AVX and
// AVX-512 register state (XCR0 bits 1, 2, 5, 6 and 7), the AVX form
// otherwise. The environment variable TAVREL_8X4_FORM=avx, read at load,
// forces the AVX form (tests use it to cover both forms on one machine), and
// a program may limit the width later (TAVREL_AVX_8X4_LimitFormBits).
#pragma once

#include <cstddef>

namespace tavrel8x4 {

struct PanelRegion {
    int M8, N4, K;
    const double* aa;
    const double* bb;
    double* c;
    std::ptrdiff_t ldc;
    double alpha, beta;
};

using RegionForm = void (*)(const PanelRegion&);

// 8x4 register blocks in 256-bit vectors, 16 registers (needs AVX).
void EightRowBlocksAvx(const PanelRegion& region);
// Up to 24x8 register blocks in 512-bit vectors, 32 registers (needs AVX-512F).
void EightRowBlocksAvx512(const PanelRegion& region);

// The form in force: the one chosen at load, or the AVX form after
// LimitFormBits(256).
RegionForm EightRowBlocks();
int FormBits();              // 512 or 256
int LimitFormBits(int bits);  // see TAVREL_AVX_8X4_LimitFormBits

}  // namespace tavrel8x4
