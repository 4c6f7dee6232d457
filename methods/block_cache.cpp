// Method 2, "Block_cache(ib,kb,jb::i,k,j)": square cache blocks of order
// l_block multiplied block by block; the block rows of C are shared among
// OpenMP threads under a dynamic schedule, one block row at a time.
//
// Storage: row by row with a one-element offset, element (r, c) at index
// 1 + r*n + c; index 0 is neither read nor written. Block (p, q), counted
// from 1, starts at element ((p-1)*l_block, (q-1)*l_block); its rows are n
// elements apart. C is added into. Each element receives its n terms in
// increasing k (block kb outer, k within the block inner) with the same
// c += a*b update as HP, so the two methods agree bit for bit.
#include <algorithm>
#include <cstddef>

#include <omp.h>

#include "hot_loop.h"
#include "methods.h"
#include "notice.h"
#include "run_parameters.h"
#include "stop.h"

namespace {
// Rows c0 and c1 of a C block each gain a factor times one row of B.
VORP_INLINE void AddToRowPair(std::ptrdiff_t length, double a0, double a1,
                              const double* __restrict b_row, double* __restrict c0,
                              double* __restrict c1) {
    for (std::ptrdiff_t j = 0; j < length; ++j) {
        c0[j] += a0 * b_row[j];
        c1[j] += a1 * b_row[j];
    }
}

VORP_INLINE void AddToRow(std::ptrdiff_t length, double a0, const double* __restrict b_row,
                          double* __restrict c0) {
    for (std::ptrdiff_t j = 0; j < length; ++j) c0[j] += a0 * b_row[j];
}

// The rows of the C block are taken in pairs so that each loaded element of B
// serves two rows; with an odd L the last row is taken on its own, so nothing
// beyond the block is touched.
VORP_HOT_LOOP void AddBlockProduct(std::ptrdiff_t size, std::ptrdiff_t stride, const double* a,
                                   const double* b, double* c) {
    std::ptrdiff_t i = 0;
    for (; i + 1 < size; i += 2) {
        const double* a0 = a + i * stride;
        const double* a1 = a0 + stride;
        double* c0 = c + i * stride;
        double* c1 = c0 + stride;
        for (std::ptrdiff_t k = 0; k < size; ++k)
            AddToRowPair(size, a0[k], a1[k], b + k * stride, c0, c1);
    }
    if (i < size) {
        const double* a0 = a + i * stride;
        double* c0 = c + i * stride;
        for (std::ptrdiff_t k = 0; k < size; ++k) AddToRow(size, a0[k], b + k * stride, c0);
    }
}
}  // namespace

void MultCacheBlock(std::int32_t l, std::int32_t n, const double* a, const double* b, double* c) {
    if (l < 1) return;
    AddBlockProduct(l, n, a, b, c);
}

bool MultBlockCache(std::int32_t n, std::int32_t l_block, std::int32_t threads,
                    std::int32_t parallel_kind, const double* a, const double* b, double* c) {
    if (parallel_kind == kParallelTbb) ShowNotice("TBB does not support");
    if (l_block < 1 || n % l_block != 0) {
        ShowNotice("Conflict between N and lblck");
        return false;
    }
    const std::int32_t block_count = n / l_block;
    const std::ptrdiff_t order = n;
    const std::ptrdiff_t block_row_distance = order * l_block;
    omp_set_num_threads(std::max(threads, 1));
#pragma omp parallel
    {
#pragma omp for schedule(dynamic, 1)
        for (std::int32_t ib = 1; ib <= block_count; ++ib) {
            const double* a_block_row = a + 1 + (ib - 1) * block_row_distance;
            double* c_block_row = c + 1 + (ib - 1) * block_row_distance;
            for (std::int32_t kb = 1; kb <= block_count; ++kb) {
                if (StopRequested()) break;  // a block row at a time
                const double* a_block =
                    a_block_row + (kb - 1) * static_cast<std::ptrdiff_t>(l_block);
                const double* b_block_row = b + 1 + (kb - 1) * block_row_distance;
                for (std::int32_t jb = 1; jb <= block_count; ++jb) {
                    const std::ptrdiff_t column = (jb - 1) * static_cast<std::ptrdiff_t>(l_block);
                    MultCacheBlock(l_block, n, a_block, b_block_row + column, c_block_row + column);
                }
            }
        }
    }
    return true;
}
