// The multiplication methods C = A*B of order n. Entry points take 32-bit
// integers and pointers to double and return nothing; each states the storage
// it reads.
#pragma once

#include <cstdint>

// Method 0, "Classic": the r, c, k triple loop on one thread. Row by row with a
// one-element offset: element (r, c) at index 1 + r*n + c. C is overwritten.
void MultClassic(std::int32_t n, const double* a, const double* b, double* c);

// The Classic loop on matrices stored row by row from element (0, 0):
// element (r, c) at index r*n + c. Every C(r, c) is overwritten with its sum
// over increasing k from 0.0.
void ClassicProduct(std::int32_t n, const double* a, const double* b, double* c);
