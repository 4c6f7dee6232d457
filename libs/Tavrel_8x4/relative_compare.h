// The comparison rule of TAVREL_AVX_8X4_CompCwithCC, kept apart so that it can
// be checked without a reference buffer inside the library.
#pragma once

#include <cmath>
#include <cstdint>

namespace tavrel8x4 {

// 1 when every |c[i] - ref[i]| / max|c| is at most 1e-9 over `count` values,
// else 0. The maximum is taken with a strict greater-than, so a NaN never
// becomes it; a NaN ratio is not greater than the threshold and so matches.
// An all-zero c gives 0/0 (NaN, a match) where ref agrees and an infinite
// ratio (a mismatch) where it does not. count <= 0 visits nothing: 1.
inline int MatchesRelative(const double* c, const double* ref, std::int64_t count) {
    double max_abs = 0.0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (std::fabs(c[i]) > max_abs) max_abs = std::fabs(c[i]);
    }
    for (std::int64_t i = 0; i < count; ++i) {
        if (std::fabs(c[i] - ref[i]) / max_abs > 1e-9) return 0;
    }
    return 1;
}

}  // namespace tavrel8x4
