// The packing of Tavrel_8x4: A for the packed kernels, and B.
//
// Packed A (Pack_AA_AMD) of M rows and depth K, M8 = M - M % 8: the 8-row
// blocks (A(8b+i, k) at 8*K*b + 8*k + i), then a 4-row block when M % 8 >= 4
// (A(M8+i, k) at K*M8 + 4*k + i), then the strip of the last M % 4 rows.
//
// BB panel format (Pack_BBTRANSP_AMD, Pack_BB_AMD), N columns of depth K,
// N4 = N - N % 4, d = N % 4; exactly N*K doubles from the slot start:
//   full block of columns j0..j0+3: B(k, j0+c) at K*j0 + 4*k + c
//   tail of columns N4..N-1:        B(k, N4+c) at K*N4 + d*k + c
// Pack_BBTRANSP_AMD reads B(k, j) = src[j*step + k] and stores whole 32-byte
// vectors, so the slot must be 32-byte aligned (Init's slots are);
// Pack_BBTRANSP_Into does the same into any 32-byte aligned destination.
// Pack_BB_AMD reads B(k, j) = src[k*ld + j] with single-double moves.
//
// Broadcast format (Pack_BB) of S(k, i) = src[k*M + i], M4 = M - M % 4,
// r = M % 4, into a 32-byte aligned dst of 4*M4*K + r*K doubles:
//   group g (columns 4g..4g+3): at 16*K*g + 16*k, S(k, 4g+u) four times, u = 0..3
//   tail (columns M4..M-1):     at 4*M4*K + r*k, S(k, M4+u) once, u < r
//
// Preconditions (not checked): a slot of at least N*K doubles, readable
// sources. Before Init, after Free or with a slot index out of range the
// slot routines write nothing, nor does Pack_BBTRANSP_Into into a null dst.
// N <= 0 or K <= 0 (M <= 0 or K <= 0) writes nothing. Nothing past the
// format's extent is written.
#include <immintrin.h>

#include <cstddef>

#include "Tavrel_8x4.h"
#include "prefetch.h"
#include "slots.h"

namespace {

using tavrel8x4::Prefetch;

// Transposes four source columns, 4 depth steps each, into 4 panel steps.
inline void Store4x4Transposed(const double* c0, const double* c1, const double* c2,
                               const double* c3, double* out) {
    const __m256d r0 = _mm256_loadu_pd(c0), r1 = _mm256_loadu_pd(c1);
    const __m256d r2 = _mm256_loadu_pd(c2), r3 = _mm256_loadu_pd(c3);
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    _mm256_store_pd(out, _mm256_permute2f128_pd(t0, t2, 0x20));
    _mm256_store_pd(out + 4, _mm256_permute2f128_pd(t1, t3, 0x20));
    _mm256_store_pd(out + 8, _mm256_permute2f128_pd(t0, t2, 0x31));
    _mm256_store_pd(out + 12, _mm256_permute2f128_pd(t1, t3, 0x31));
}

// One full block of columns col[0..3]: K % 8 single steps, then groups of eight
// steps with the following 64 bytes of each column prefetched.
void PackTransposedBlock(const double* const col[4], int K, double* out) {
    const int q = K % 8;
    int k = 0;
    for (; k < q; ++k, out += 4) {
        _mm256_store_pd(out, _mm256_set_pd(col[3][k], col[2][k], col[1][k], col[0][k]));
    }
    for (; k < K; k += 8, out += 32) {
        for (int c = 0; c < 4; ++c) Prefetch(col[c], k + 8);
        Store4x4Transposed(col[0] + k, col[1] + k, col[2] + k, col[3] + k, out);
        Store4x4Transposed(col[0] + k + 4, col[1] + k + 4, col[2] + k + 4, col[3] + k + 4,
                           out + 16);
    }
}

// The tail of d = 1..3 columns col[0..d-1], d values per depth step.
void PackTransposedTail(const double* const col[3], int d, int K, double* out) {
    if (d == 3) {
        int k = 0;
        for (; k + 4 <= K; k += 4, out += 12) {
            if (k % 8 == 0) {
                for (int c = 0; c < 3; ++c) Prefetch(col[c], k + 8);
            }
            for (int u = 0; u < 4; ++u) {
                out[3 * u] = col[0][k + u];
                out[3 * u + 1] = col[1][k + u];
                out[3 * u + 2] = col[2][k + u];
            }
        }
        for (; k < K; ++k, out += 3) {
            out[0] = col[0][k];
            out[1] = col[1][k];
            out[2] = col[2][k];
        }
        return;
    }
    for (int k = 0; k < K; ++k, out += d) {
        for (int c = 0; c < d; ++c) out[c] = col[c][k];
    }
}

// The packed-A format: the 8-row blocks four k-steps at a time (the A lines
// of the next four prefetched), then the 4-row block and the strip.
void PackA(int M, int K, const double* A, std::ptrdiff_t lda, double* out) {
    const int M8 = M - M % 8, K4 = K - K % 4;
    for (int i0 = 0; i0 < M8; i0 += 8) {
        const double* a = A + i0;
        int k = 0;
        for (; k < K4; k += 4, out += 32) {
            for (int u = 4; u < 8; ++u) Prefetch(a, (k + u) * lda);
            for (int u = 0; u < 4; ++u) {
                _mm256_store_pd(out + 8 * u, _mm256_loadu_pd(a + (k + u) * lda));
                _mm256_store_pd(out + 8 * u + 4, _mm256_loadu_pd(a + (k + u) * lda + 4));
            }
        }
        for (; k < K; ++k, out += 8) {
            Prefetch(a, (k + 1) * lda);
            _mm256_store_pd(out, _mm256_loadu_pd(a + k * lda));
            _mm256_store_pd(out + 4, _mm256_loadu_pd(a + k * lda + 4));
        }
    }
    const int tail_rows[2] = {M % 8 >= 4 ? 4 : 0, M % 4};
    int row = M8;
    for (const int rows : tail_rows) {
        for (int k = 0; k < K; ++k, out += rows) {
            for (int i = 0; i < rows; ++i) out[i] = A[row + i + k * lda];
        }
        row += rows;
    }
}

}  // namespace

void Pack_BBTRANSP_AMD(int N, int K, int step, int slot, double* src) {
    if (N <= 0 || K <= 0) return;
    Pack_BBTRANSP_Into(N, K, step, src, tavrel8x4::BbSlot(slot));
}

void Pack_BBTRANSP_Into(int N, int K, int step, double* src, double* out) {
    if (N <= 0 || K <= 0 || out == nullptr) return;
    const int d = N % 4;
    const int N4 = N - d;
    const auto column = [&](int j) { return src + static_cast<std::ptrdiff_t>(j) * step; };
    for (int j0 = 0; j0 < N4; j0 += 4) {
        const double* const cols[4] = {column(j0), column(j0 + 1), column(j0 + 2), column(j0 + 3)};
        PackTransposedBlock(cols, K, out + static_cast<std::ptrdiff_t>(K) * j0);
    }
    if (d > 0) {
        const double* const cols[3] = {column(N4), d > 1 ? column(N4 + 1) : nullptr,
                                       d > 2 ? column(N4 + 2) : nullptr};
        PackTransposedTail(cols, d, K, out + static_cast<std::ptrdiff_t>(K) * N4);
    }
}

void Pack_BB_AMD(int N, int K, int ld, int slot, double* src) {
    if (N <= 0 || K <= 0) return;
    double* out = tavrel8x4::BbSlot(slot);
    if (out == nullptr) return;
    const int d = N % 4;
    const int N4 = N - d;
    const auto row = [&](int k) { return src + static_cast<std::ptrdiff_t>(k) * ld; };
    for (int j0 = 0; j0 < N4; j0 += 4) {
        int k = 0;
        for (; k + 4 <= K; k += 4, out += 16) {
            for (int u = 4; u < 8; ++u) {
                Prefetch(src, static_cast<std::ptrdiff_t>(k + u) * ld + j0);
            }
            for (int u = 0; u < 4; ++u) {
                for (int c = 0; c < 4; ++c) out[4 * u + c] = row(k + u)[j0 + c];
            }
        }
        for (; k < K; ++k, out += 4) {
            for (int c = 0; c < 4; ++c) out[c] = row(k)[j0 + c];
        }
    }
    for (int k = 0; d > 0 && k < K; ++k, out += d) {
        for (int c = 0; c < d; ++c) out[c] = row(k)[N4 + c];
    }
}

void Pack_BB(int M, int K, double* src, double* dst) {
    if (M <= 0 || K <= 0) return;
    const int r = M % 4;
    const int M4 = M - r;
    double* out = dst;
    for (int g = 0; g < M4; g += 4) {
        for (int k = 0; k < K; ++k, out += 16) {
            const double* s = src + static_cast<std::ptrdiff_t>(k) * M + g;
            for (int u = 0; u < 4; ++u) _mm256_store_pd(out + 4 * u, _mm256_broadcast_sd(s + u));
        }
    }
    for (int k = 0; r > 0 && k < K; ++k, out += r) {
        for (int u = 0; u < r; ++u) out[u] = src[static_cast<std::ptrdiff_t>(k) * M + M4 + u];
    }
}

void Pack_AA_AMD(int M, int K, double* A, int lda, double* AA) {
    if (M > 0 && K > 0) PackA(M, K, A, lda, AA);
}
