// Method 1, "HP": the r, k, c loop order with the rows of C shared among
// OpenMP threads under a static schedule.
//
// Storage: row by row with a one-element offset, element (r, c) at index
// 1 + r*n + c; index 0 is neither read nor written. A and B are read, C is
// added into (it must hold zeros for the result to be A*B). Each element
// receives its n terms one at a time in increasing k, each as c += a*b, which
// the x86-64-v3 build fuses into one multiply-add and the baseline build does
// not; Block_cache uses the same update, so the two agree bit for bit.
#include <algorithm>
#include <cstddef>

#include <omp.h>

#include "hot_loop.h"
#include "methods.h"
#include "notice.h"
#include "run_parameters.h"
#include "stop.h"

namespace {
// c_row += A(r, k) * (row k of B) for k = 0, 1, ..., n-1.
VORP_HOT_LOOP void AddRowProduct(std::ptrdiff_t n, const double* a_row, const double* __restrict b,
                                 double* __restrict c_row) {
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        const double factor = a_row[k];
        const double* b_row = b + k * n;
        for (std::ptrdiff_t col = 0; col < n; ++col) c_row[col] += factor * b_row[col];
    }
}

// The static schedule needs a chunk of at least one row; a chunk of 0 (more
// threads than rows) becomes 1, and anything beyond n deals the same as n.
int RowsPerChunk(std::uint32_t chunk, std::int32_t n) {
    const std::uint32_t most = n > 1 ? static_cast<std::uint32_t>(n) : 1u;
    return static_cast<int>(std::clamp<std::uint32_t>(chunk, 1u, most));
}
}  // namespace

bool MultHP(std::int32_t n, std::int32_t threads, std::uint32_t chunk, std::int32_t parallel_kind,
            const double* a, const double* b, double* c) {
    if (parallel_kind == kParallelTbb) {
        ShowNotice("TBB does not support");
        return false;
    }
    const std::ptrdiff_t order = n;
    const int rows_per_chunk = RowsPerChunk(chunk, n);
    omp_set_num_threads(std::max(threads, 1));
#pragma omp parallel
    {
#pragma omp for schedule(static, rows_per_chunk)
        for (std::int32_t i = 1; i <= n; ++i) {
            if (StopRequested()) continue;  // a row at a time; the loop runs out quickly
            const std::ptrdiff_t first = 1 + (i - 1) * order;
            AddRowProduct(order, a + first, b + 1, c + first);
        }
    }
    return true;
}
