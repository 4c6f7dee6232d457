// Matrix preparation before a method and the result check after it.
//
// Layouts (n*n+2 doubles per buffer, elements 0..n*n zero before preparation):
//  - methods 0 to 2: row by row with a one-element offset, element (r, c) at
//    1 + r*n + c; index 0 holds no element. A(r, c) = 1 + r*n + c, B = 100*A.
//  - method 3: the same buffer content, read column by column from index 1.
//  - method 4: A and C without offset, element (r, c) at r*n + c (or r + c*n:
//    the matrices are symmetric). A(r, c) = sqrt((r+1)*(c+1)), B = 2*A; B sits
//    at index 0 on the AVX levels and one element further on at level 0.
#pragma once

#include <cstdint>

// Fills A and B for `method`; method 4's layout follows the IsaLevel of the
// path the run decided. A stop request leaves the filling unfinished (the
// caller looks at StopRequested).
void PrepareMatrices(std::int32_t method, std::int32_t n, double* a, double* b,
                     std::int32_t isa_level);

// NoProduct: the method computed nothing (it gave up with a notice), so
// there was nothing to check.
enum class CheckVerdict { NotRun, Passed, Failed, NoReference, NoProduct };

// Recomputes A*B with the Classic method and compares every element of C:
// an element fails when |(c - r) / d| > 1e-10, with d = c if c*c >= 1e-16 and
// 1e-8 otherwise, or when it is not a number. Shows "Check Error" at the first
// failure, or "Memory allocation error during check" when the reference
// buffer cannot be had. With a reference, *largest_difference (when given)
// receives the largest relative difference over all elements (infinity for a
// NaN).
CheckVerdict CheckResult(std::int32_t method, std::int32_t n, const double* a, const double* b,
                         const double* c, std::int32_t isa_level,
                         double* largest_difference = nullptr);
