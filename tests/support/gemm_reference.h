// Plain scalar references for the kernels: every sum runs over k in
// increasing order from zero with a rounding after each multiply and each add
// (the source is built with -ffp-contract=off), so a kernel that keeps that
// order matches bit for bit.
#pragma once

#include <cstddef>

// Sum over k = 0..K-1 of a[k*a_step] * b[k*b_step], from 0.0, in increasing k.
double OrderedDot(int K, const double* a, std::ptrdiff_t a_step, const double* b,
                  std::ptrdiff_t b_step);

// The two write-back rules of the kernels: the vector rule stores alpha*s
// without reading C when beta compares equal to zero; the scalar rule (and
// the vector rule otherwise) stores beta*c_old + alpha*s.
double VectorRule(double alpha, double s, double beta, double c_old);
double ScalarRule(double alpha, double s, double beta, double c_old);

// The four-lane order of the row-by-row 11-argument kernel: lane l sums
// a[k]*b[k] over k = l, l+4, ... < K4 (K4 a multiple of 4) in increasing k,
// and the lanes are added as ((l0 + l1) + l2) + l3.
double FourLaneDot(int K4, const double* a, const double* b);
