// Method 0, "Classic": the textbook triple loop r, c, k. A is read along a row
// and B down a column (stride n), the slow access pattern this method shows.
// Every element is one inner product summed in increasing k from 0.0.
#include <cstddef>

#include "methods.h"
#include "stop.h"

namespace {
// A stop request is looked at every this many elements of C: about a
// millisecond of work at n 20000 (2*n products each).
constexpr std::ptrdiff_t kColumnsBetweenStopChecks = 64;
}  // namespace

void ClassicProduct(std::int32_t n, const double* a, const double* b, double* c) {
    const std::ptrdiff_t order = n;
    for (std::ptrdiff_t r = 0; r < order; ++r) {
        const double* a_row = a + r * order;
        for (std::ptrdiff_t col = 0; col < order; ++col) {
            if (col % kColumnsBetweenStopChecks == 0 && StopRequested()) return;
            double sum = 0.0;
            for (std::ptrdiff_t k = 0; k < order; ++k) sum += a_row[k] * b[k * order + col];
            c[r * order + col] = sum;
        }
    }
}

void MultClassic(std::int32_t n, const double* a, const double* b, double* c) {
    if (n < 1) return;
    ClassicProduct(n, a + 1, b + 1, c + 1);
}
