// Method 3, "Block_cache, registers (2x2), pack (BLAS 1989)": a single-thread
// blocked product C += A*B in the manner of the Level 3 BLAS.
//
// Storage: column by column from the pointers received. A is M x K with
// element (i, l) at A[i + l*M], B is K x N with (l, j) at B[l + j*K], C is
// M x N with (i, j) at C[i + j*M]. The run passes M = N = K = n and each buffer
// advanced by one element. C is added into.
//
// work: NB pointers to rows of at least NB doubles. For each depth block kk
// and row block ii, row p of the work area receives column kk + p of the
// block of A: work[p][i] = A(ii + i, kk + p), i < mb, p < kb. The packed block
// serves every column block jj before the next one is packed.
//
// C is formed in 2 x 2 register blocks: four sums from 0.0 over the depth of
// the block in increasing p, then added to C, so C receives one sum per depth
// block, in increasing kk. Most blocks are formed twelve at a time in vector
// registers (RegisterTile); the rows and columns left over take single 2 x 2
// blocks, and odd counts end with 2 x 1, 1 x 2 and 1 x 1 blocks of the same
// kind.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "hot_loop.h"
#include "methods.h"
#include "stop.h"

namespace {
using Index = std::ptrdiff_t;

// One packed block of A and where its rows and depth start in the matrices.
struct PackedBlock {
    double* const* rows;  // work[p], p < depth
    Index first_row;      // ii
    Index first_depth;    // kk
    Index height;         // mb
    Index depth;          // kb
};

void PackBlock(const double* a, Index m, const PackedBlock& block) {
    for (Index p = 0; p < block.depth; ++p) {
        const double* column = a + block.first_row + (block.first_depth + p) * m;
        std::copy(column, column + block.height, block.rows[p]);
    }
}

// A Rows x Cols register block (Rows, Cols of 1 or 2) at packed row `row`
// (counted within the block): its sums run over the columns of B that start
// at b_column (from depth kk, k apart) and are added into C at c (rows
// consecutive, columns m apart).
template <int Rows, int Cols>
VORP_INLINE void RegisterBlock(const PackedBlock& block, Index row, const double* b_column, Index k,
                               double* c, Index m) {
    double sums[Rows][Cols] = {};
    for (Index p = 0; p < block.depth; ++p) {
        const double* packed = block.rows[p] + row;
        for (int j = 0; j < Cols; ++j) {
            const double b_value = b_column[p + j * k];
            for (int i = 0; i < Rows; ++i) sums[i][j] += packed[i] * b_value;
        }
    }
    for (int j = 0; j < Cols; ++j) {
        for (int i = 0; i < Rows; ++i) c[i + j * m] += sums[i][j];
    }
}

// Twelve 2 x 2 register blocks formed together: a tile of four row pairs by
// three column pairs, whose 48 sums the vector registers hold through the whole
// depth. Each sum still runs from 0.0 over increasing p and is added to C
// once, so the values are those of one 2 x 2 block at a time; only the loads
// are shared (each a serves six columns, each b eight rows).
using Lanes = double __attribute__((vector_size(32)));  // four doubles
constexpr int kLaneCount = 4;
constexpr int kTileRowVectors = 2;
constexpr int kTileRows = kTileRowVectors * kLaneCount;
constexpr int kTileCols = 6;
static_assert(kTileCols % 2 == 0, "the rows below the tiles are taken in column pairs");

VORP_INLINE void RegisterTile(const PackedBlock& block, Index row, const double* b_column, Index k,
                              double* c, Index m) {
    Lanes sums[kTileCols][kTileRowVectors] = {};
    for (Index p = 0; p < block.depth; ++p) {
        const double* packed = block.rows[p] + row;
        Lanes a[kTileRowVectors];
        for (int v = 0; v < kTileRowVectors; ++v)
            std::memcpy(&a[v], packed + v * kLaneCount, sizeof a[v]);
        for (int j = 0; j < kTileCols; ++j) {
            const double b_value = b_column[p + j * k];
            for (int v = 0; v < kTileRowVectors; ++v) sums[j][v] += a[v] * b_value;
        }
    }
    for (int j = 0; j < kTileCols; ++j) {
        for (int v = 0; v < kTileRowVectors; ++v) {
            double* c_lanes = c + j * m + v * kLaneCount;
            Lanes sum;
            std::memcpy(&sum, c_lanes, sizeof sum);
            sum += sums[j][v];
            std::memcpy(c_lanes, &sum, sizeof sum);
        }
    }
}

// The 2 x 2, 2 x 1, 1 x 2 and 1 x 1 blocks of `Cols` columns from `column`,
// rows from `row` to the end of the packed block.
template <int Cols>
VORP_INLINE void ColumnStrip(const PackedBlock& block, const double* b, double* c, Index m, Index k,
                             Index column, Index row) {
    const double* b_column = b + block.first_depth + column * k;
    double* c_column = c + block.first_row + column * m;
    Index i = row;
    for (; i + 1 < block.height; i += 2)
        RegisterBlock<2, Cols>(block, i, b_column, k, c_column + i, m);
    if (i < block.height) RegisterBlock<1, Cols>(block, i, b_column, k, c_column + i, m);
}

// Columns [column, column + kTileCols): whole tiles down the rows, then the
// rows left over in 2 x 2 blocks.
VORP_INLINE void TileStrip(const PackedBlock& block, const double* b, double* c, Index m, Index k,
                           Index column) {
    const double* b_column = b + block.first_depth + column * k;
    double* c_column = c + block.first_row + column * m;
    Index i = 0;
    for (; i + kTileRows <= block.height; i += kTileRows) {
        RegisterTile(block, i, b_column, k, c_column + i, m);
    }
    for (int j = 0; j < kTileCols; j += 2) ColumnStrip<2>(block, b, c, m, k, column + j, i);
}

VORP_HOT_LOOP void MultiplyPackedBlock(const PackedBlock& block, const double* b, double* c,
                                       Index m, Index n, Index k, Index nb) {
    for (Index jj = 0; jj < n; jj += nb) {
        const Index end = jj + std::min(nb, n - jj);
        Index j = jj;
        for (; j + kTileCols <= end; j += kTileCols) TileStrip(block, b, c, m, k, j);
        for (; j + 1 < end; j += 2) ColumnStrip<2>(block, b, c, m, k, j, 0);
        if (j < end) ColumnStrip<1>(block, b, c, m, k, j, 0);
    }
}
}  // namespace

void MultBlockPack_2x2(std::int32_t m, std::int32_t n, std::int32_t k, std::int32_t nb,
                       const double* a, const double* b, double* c, double** work) {
    if (k < 1 || nb < 1) return;
    for (Index kk = 0; kk < k; kk += nb) {
        for (Index ii = 0; ii < m; ii += nb) {
            if (StopRequested()) return;  // a block at a time
            const PackedBlock block{work, ii, kk, std::min<Index>(nb, m - ii),
                                    std::min<Index>(nb, k - kk)};
            PackBlock(a, m, block);
            MultiplyPackedBlock(block, b, c, m, n, k, nb);
        }
    }
}
