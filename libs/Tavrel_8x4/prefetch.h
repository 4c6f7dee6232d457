#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace tavrel8x4 {

// Prefetch hint (T0) for base + offset doubles. The address is formed as an
// integer, so it may lie past the end of any buffer: a prefetch never faults.
inline __attribute__((always_inline)) void Prefetch(const double* base, std::ptrdiff_t offset) {
    const auto address = reinterpret_cast<std::uintptr_t>(base) +
                         static_cast<std::uintptr_t>(offset) * sizeof(double);
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
}

}  // namespace tavrel8x4
