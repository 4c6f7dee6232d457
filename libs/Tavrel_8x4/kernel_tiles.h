// The macro-kernel, the edge path and the write-back of both forms, written
// once over a form F (kernel_avx.cpp, kernel_avx512.cpp): its vector type V
// of kLanes doubles (GCC's vector operators: each * and + one rounded
// instruction, never fused, under -ffp-contract=off), its blocking table
// kBlocking and its micro-kernel
//   template <int R, int NC, int kFirst, class L> static void Sum(V (&acc)[NC][8*R/kLanes],
//       bool carry, long K, const double* a, std::ptrdiff_t a_block, const BColumns& b);
// which adds to acc[c][p] (to zero unless carry) the products A(i,k)*B(k,c),
// rows i = p*kLanes.. of R 8-row blocks, c < NC, over K k-steps in
// increasing k, each a rounded multiply then a rounded add. Packed A: 8
// values per k-step, block r at a + r*a_block. B column c < kFirst at
// b.first + k*L::kStep + c*L::kColumn, column c >= kFirst at
// b.second + k*L::kStep + (c - kFirst)*L::kColumn (B's layout L, kernel_forms.h).
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <numeric>

#include "kernel_forms.h"
#include "prefetch.h"

namespace tavrel8x4 {

using std::ptrdiff_t;

struct BColumns {
    const double* first;
    const double* second;
};

// The write-back rule. Vector rule (the 8-row blocks of every panel and the
// 4-row block of the whole panels): V = alpha*sum; with beta equal to 0.0
// (either sign) C is not read and V is stored, otherwise (a NaN beta too)
// beta*C_old + V. Scalar rule (the rest): always beta*C_old + alpha*sum, so
// beta 0 keeps a NaN or an infinity of C as NaN.
struct Scale {
    double alpha, beta;
    bool beta_zero = beta == 0.0;
    bool unit = alpha == 1.0 && beta == 1.0;  // both multiplies exact: C_old + sum, same bits
};

inline void WriteElement(double sum, double* out, bool vector_rule, const Scale& s) {
    *out = vector_rule && s.beta_zero ? s.alpha * sum : s.beta * *out + s.alpha * sum;
}

// Writes rows 0..m-1 of columns 0..n-1 (m <= 8R, n <= NC) of a register
// tile to C at c: rows below vector_rows by the vector rule, the others by
// the scalar rule.
template <class F, int NC, int P>
inline __attribute__((always_inline)) void WriteTile(const typename F::V (&acc)[NC][P], int m,
                                                     int n, int vector_rows, double* c,
                                                     ptrdiff_t ldc, const Scale& s) {
    constexpr int kRows = P * F::kLanes;
    if (m < kRows || n < NC || vector_rows < kRows) {
        alignas(64) double sums[NC][kRows];
        std::memcpy(sums, acc, sizeof sums);
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < m; ++i)
                WriteElement(sums[j][i], c + i + j * ldc, i < vector_rows, s);
        }
        return;
    }
    using V = typename F::V;
    const auto load = [](const double* out) {
        V v;
        std::memcpy(&v, out, sizeof v);
        return v;
    };
    const auto each = [&](auto rule) {
#pragma GCC unroll 8  // the sums go out from their registers, not from a copy
        for (int j = 0; j < NC; ++j) {
#pragma GCC unroll 3
            for (int p = 0; p < P; ++p) {
                double* out = c + j * ldc + p * F::kLanes;
                const V v = rule(out, acc[j][p]);
                std::memcpy(out, &v, sizeof v);
            }
        }
    };
    if (s.unit) {
        each([&](const double* out, V v) { return load(out) + v; });
    } else if (s.beta_zero) {
        each([&](const double*, V v) { return s.alpha * v; });
    } else {
        each([&](const double* out, V v) { return s.beta * load(out) + s.alpha * v; });
    }
}

// The whole tile of R 8-row blocks from packed A at a and NC columns from
// column j0 (kFirst of them in j0's group of 4), by the vector rule.
template <class F, class L, int R, int NC, int kFirst>
inline __attribute__((always_inline)) void WholeTile(const Product& g, const double* a, int row,
                                                     int j0, const Scale& s) {
    double* c = g.c + row + j0 * g.ldc;
    for (int j = 0; j < NC; ++j) {
        for (int r = 0; r < R; ++r) Prefetch(c, j * g.ldc + 8 * r);
        Prefetch(c, j * g.ldc + 8 * R - 1);
    }
    const double* group = g.bb + static_cast<unsigned>(j0) / 4 * g.b_group;
    typename F::V acc[NC][8 * R / F::kLanes];
    F::template Sum<R, NC, kFirst, L>(acc, false, g.K, a, ptrdiff_t{8} * g.K,
                                      {group + (4 - kFirst) % 4 * L::kColumn, group + g.b_group});
    __asm__("" : "+r"(c));  // C's addresses formed anew, not held through the k-loop
    WriteTile<F>(acc, 8 * R, NC, 8 * R, c, g.ldc, s);
}

// Prefetches the next chunk of B (`lines` cache lines from next), one equal
// share per register tile of this chunk, so that it is in L1 in its turn.
struct NextChunk {
    const double* next;
    ptrdiff_t lines, per_share;

    void Fetch(ptrdiff_t share) const {
        const ptrdiff_t end = std::min(lines, (share + 1) * per_share);
        for (ptrdiff_t line = share * per_share; line < end; ++line) Prefetch(next, line * 8);
    }
};

// Columns in whole NR-column tiles and whole groups of 4 alike: one tile,
// or two when NR is an odd number of pairs (the second starting inside a group).
template <class F>
constexpr int kUnit = std::lcm(F::kBlocking.columns, 4);

// The R-block row group at 8-row block b across columns first..end-1: the
// whole units, then 4 columns a tile.
template <class F, class L, int R>
void RowGroup(const Product& g, int b, int first, int end, const NextChunk& next, ptrdiff_t& share,
              const Scale& s) {
    constexpr int NR = F::kBlocking.columns;
    static_assert(kUnit<F> == NR || kUnit<F> == 2 * NR, "a unit is one or two tiles");
    const double* a = g.aa + ptrdiff_t{8} * g.K * b;
    int j0 = first;
    for (; j0 + kUnit<F> <= end; j0 += kUnit<F>) {
        next.Fetch(share++);
        WholeTile<F, L, R, NR, 4>(g, a, 8 * b, j0, s);
        if constexpr (kUnit<F> != NR) {
            next.Fetch(share++);
            WholeTile<F, L, R, NR, 4 - NR % 4>(g, a, 8 * b, j0 + NR, s);
        }
    }
    for (; j0 < end; j0 += 4) {
        next.Fetch(share++);
        WholeTile<F, L, R, 4, 4>(g, a, 8 * b, j0, s);
    }
}

// Rows 0..M8-1 by columns 0..N4-1, a chunk of columns at a time: each row
// group's packed A stays in L1 while it runs across the chunk.
template <class F, class L>
void WholeTiles(const Product& g, int M8, int N4, const Scale& s) {
    constexpr Blocking t = F::kBlocking;
    const std::size_t column_bytes =
        std::max<ptrdiff_t>(g.b_group * ptrdiff_t{sizeof(double)} / 4, 8);
    // Whole units per chunk; where one unit's B would fill L1 twice over (the
    // broadcast format is four times as wide), 4-column tiles instead.
    const std::size_t fit = t.chunk_bytes / column_bytes;
    const int step = kUnit<F> * column_bytes > 2 * t.chunk_bytes ? 4 : kUnit<F>;
    const int chunk = static_cast<int>(std::max<std::size_t>(fit / step, 1)) * step;
    const int blocks = M8 / 8;
    for (int first = 0, end = 0; blocks > 0 && first < N4; first = end) {
        end = std::min(N4, first + chunk);
        const int width = end - first,
                  next_width = t.prefetch_next_chunk ? std::min(chunk, N4 - end) : 0;
        const ptrdiff_t tiles = (blocks + t.row_blocks - 1) / t.row_blocks *
                                (width / kUnit<F> * (kUnit<F> / t.columns) + width % kUnit<F> / 4);
        const ptrdiff_t lines = (next_width / 4 * g.b_group * ptrdiff_t{sizeof(double)} + 63) / 64;
        const NextChunk next{g.bb + end / 4 * g.b_group, lines, (lines + tiles - 1) / tiles};
        ptrdiff_t share = 0;
        for (int b = 0, rows = 0; b < blocks; b += rows) {
            rows = t.split_last_four && blocks - b == 4 ? 2 : std::min(blocks - b, t.row_blocks);
            if (rows == 3)
                RowGroup<F, L, std::min(3, t.row_blocks)>(g, b, first, end, next, share, s);
            if (rows == 2)
                RowGroup<F, L, std::min(2, t.row_blocks)>(g, b, first, end, next, share, s);
            if (rows == 1) RowGroup<F, L, 1>(g, b, first, end, next, share, s);
        }
    }
}

// K-steps per piece of the edge path's padded tiles (24 KiB of stack): a
// whole depth block of method 4 at its defaults, padded once per call.
constexpr int kEdgeDepth = 256;

// The tails padded for k-steps k0..k0+kc-1, zeros elsewhere: rows M8..M-1
// of packed A (the 4-row block, then the strip) as an 8-row block, the tail
// columns as a group of 4. Each is filled again only for another piece.
struct PaddedTails {
    alignas(64) double a[8 * kEdgeDepth];
    alignas(64) double b[4 * kEdgeDepth];
    int a_from = -1, b_from = -1;

    const double* A(const Product& g, int M8, int k0, int kc) {
        const int four = g.M % 8 >= 4 ? 4 : 0, r = g.M % 4;
        const double* block = g.aa + ptrdiff_t{g.K} * M8;
        const double* strip = block + ptrdiff_t{four} * g.K;
        for (int k = k0; a_from != k0 && k < k0 + kc; ++k) {
            for (int i = 0; i < 8; ++i) {
                a[8 * (k - k0) + i] = i < four       ? block[4 * k + i]
                                      : i - four < r ? strip[r * k + i - four]
                                                     : 0.0;
            }
        }
        a_from = k0;
        return a;
    }

    const double* B(const Product& g, int N4, int k0, int kc) {
        const int nr = g.N % 4;
        const double* tail = g.bb + N4 / 4 * g.b_group;
        for (int k = k0; b_from != k0 && k < k0 + kc; ++k) {
            for (int c = 0; c < 4; ++c) b[4 * (k - k0) + c] = c < nr ? tail[nr * k + c] : 0.0;
        }
        b_from = k0;
        return b;
    }
};

// The 8x4 tile at rows i0.., columns j0.., of which m x n are C's: packed A
// and B in place, or padded where the tile reaches into a tail.
template <class F>
void EdgeTile(const Product& g, PaddedTails& pads, int i0, int j0, int m, int n, int vector_rows,
              const Scale& s) {
    const int M8 = g.M - g.M % 8, N4 = g.N - g.N % 4;
    typename F::V acc[4][8 / F::kLanes] = {};
    for (int k0 = 0; k0 == 0 || k0 < g.K; k0 += kEdgeDepth) {
        const int kc = std::min(kEdgeDepth, g.K - k0);
        const double* a = i0 < M8 ? g.aa + ptrdiff_t{g.K} * i0 + 8 * k0 : pads.A(g, M8, k0, kc);
        const double* b =
            j0 < N4 ? g.bb + j0 / 4 * g.b_group + k0 * PanelB::kStep : pads.B(g, N4, k0, kc);
        F::template Sum<1, 4, 4, PanelB>(acc, k0 > 0, kc, a, 0, {b, nullptr});
    }
    WriteTile<F>(acc, m, n, vector_rows, g.c + i0 + j0 * g.ldc, g.ldc, s);
}

// The whole product in form F: the whole tiles, then the edge path (rows
// M8..M-1 of the whole panels, their 4-row block by the vector rule; the
// tail columns of the 8-row blocks; the corner).
template <class F>
void MultiplyIn(const Product& g) {
    const Scale s{g.alpha, g.beta};
    if (g.broadcast_b) return WholeTiles<F, BroadcastB>(g, g.M, g.N, s);
    const int M8 = g.M - g.M % 8, N4 = g.N - g.N % 4, m = g.M - M8, n = g.N - N4;
    WholeTiles<F, PanelB>(g, M8, N4, s);
    if (m == 0 && n == 0) return;
    PaddedTails pads;
    for (int j0 = 0; m > 0 && j0 < N4; j0 += 4)
        EdgeTile<F>(g, pads, M8, j0, m, 4, g.M % 8 >= 4 ? 4 : 0, s);
    for (int i0 = 0; n > 0 && i0 < M8; i0 += 8) EdgeTile<F>(g, pads, i0, N4, 8, n, 8, s);
    if (m > 0 && n > 0) EdgeTile<F>(g, pads, M8, N4, m, n, 0, s);
}

}  // namespace tavrel8x4
