#include "matrices.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "memory.h"
#include "method_table.h"
#include "methods.h"
#include "notice.h"
#include "processor_info.h"
#include "run_parameters.h"
#include "stop.h"

namespace {
constexpr double kRelativeTolerance = 1e-10;
constexpr double kSmallValueFloor = 1e-8;

std::size_t Elements(std::int32_t n) { return static_cast<std::size_t>(n) * n; }

bool VectorLayout(std::int32_t method) {
    const MethodEntry* entry = FindMethod(method);
    return entry && entry->layout == MatrixLayout::Vector;
}

// Both layouts are filled a row at a time, and a stop request ends the
// filling at the next row.
void PrepareOffsetLayout(std::int32_t n, double* a, double* b) {
    std::size_t k = 1;
    for (std::int32_t row = 0; row < n && !StopRequested(); ++row) {
        for (std::int32_t column = 0; column < n; ++column, ++k) {
            a[k] = static_cast<double>(k);
            b[k] = 100.0 * static_cast<double>(k);
        }
    }
}

void PrepareVectorLayout(std::int32_t n, double* a, double* b, std::int32_t isa_level) {
    double* b_at = isa_level == kIsaSse2 ? b + 1 : b;
    std::size_t i = 0;
    for (std::int32_t j = 1; j <= n && !StopRequested(); ++j) {
        for (std::int32_t k = 1; k <= n; ++k, ++i) {
            a[i] = std::sqrt(static_cast<double>(j * k));
            b_at[i] = a[i] + a[i];
        }
    }
}

// |(c - r) / d| with d = c if c*c >= 1e-16 and 1e-8 otherwise; infinity when
// that is not a number, so a NaN anywhere fails and is the largest.
double RelativeDifference(double computed, double reference) {
    const double divisor = computed * computed >= 1e-16 ? computed : kSmallValueFloor;
    const double difference = std::fabs((computed - reference) / divisor);
    return std::isnan(difference) ? std::numeric_limits<double>::infinity() : difference;
}
}  // namespace

void PrepareMatrices(std::int32_t method, std::int32_t n, double* a, double* b,
                     std::int32_t isa_level) {
    if (!VectorLayout(method)) {
        PrepareOffsetLayout(n, a, b);
        return;
    }
    PrepareVectorLayout(n, a, b, isa_level);
}

CheckVerdict CheckResult(std::int32_t method, std::int32_t n, const double* a, const double* b,
                         const double* c, std::int32_t isa_level, double* largest_difference) {
    const std::size_t count = Elements(n) + 1;
    double* reference =
        FitsInAvailableMemory(count * sizeof(double)) ? AllocateArray<double>(count) : nullptr;
    if (reference == nullptr) {
        ShowNotice("Memory allocation error during check");
        return CheckVerdict::NoReference;
    }
    std::memset(reference, 0, count * sizeof(double));

    // The reference sits in the layout of C: from index 1 for methods 0 to 3,
    // from index 0 for method 4, which also reads A (and B on the AVX levels)
    // from index 0.
    const bool vector_layout = VectorLayout(method);
    const double* a_first = vector_layout ? a : a + 1;
    const double* b_first = vector_layout && isa_level != kIsaSse2 ? b : b + 1;
    double* r_first = vector_layout ? reference : reference + 1;
    const double* c_first = vector_layout ? c : c + 1;
    ClassicProduct(n, a_first, b_first, r_first);
    if (StopRequested()) {  // the reference is unfinished: no verdict
        ReleaseAligned(reference);
        return CheckVerdict::NotRun;
    }

    // The notice comes at the first failure; the scan goes on for the largest
    // difference.
    CheckVerdict verdict = CheckVerdict::Passed;
    double largest = 0;
    for (std::size_t i = 0; i < Elements(n); ++i) {
        const double difference = RelativeDifference(c_first[i], r_first[i]);
        if (difference > largest) largest = difference;
        if (difference > kRelativeTolerance && verdict == CheckVerdict::Passed) {
            ShowNotice("Check Error");
            verdict = CheckVerdict::Failed;
        }
    }
    if (largest_difference) *largest_difference = largest;
    ReleaseAligned(reference);
    return verdict;
}
