// The multiplication methods C = A*B of order n. Entry points take 32-bit
// integers and pointers to double; each states the storage it reads. Those
// that may give up with a notice return whether they computed the product
// (false: C is as it came); the others return nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "processor_info.h"
#include "run_parameters.h"

// Method 0, "Classic": the r, c, k triple loop on one thread. Row by row with a
// one-element offset: element (r, c) at index 1 + r*n + c. C is overwritten.
void MultClassic(std::int32_t n, const double* a, const double* b, double* c);

// The Classic loop on matrices stored row by row from element (0, 0):
// element (r, c) at index r*n + c. Every C(r, c) is overwritten with its sum
// over increasing k from 0.0.
void ClassicProduct(std::int32_t n, const double* a, const double* b, double* c);

// Method 1, "HP": the r, k, c loop order, rows of C shared among `threads`
// OpenMP threads under a static schedule of `chunk` rows (0 is taken as 1).
// Row by row with a one-element offset; C is added into. parallel_kind 1
// (TBB) shows "TBB does not support" and computes nothing.
bool MultHP(std::int32_t n, std::int32_t threads, std::uint32_t chunk, std::int32_t parallel_kind,
            const double* a, const double* b, double* c);

// Method 2, "Block_cache": blocks of order l_block, block rows shared among
// OpenMP threads under a dynamic schedule. Row by row with a one-element
// offset; C is added into. parallel_kind 1 shows "TBB does not support" and
// computes all the same; n not a multiple of l_block (or l_block < 1) shows
// "Conflict between N and lblck" and computes nothing.
bool MultBlockCache(std::int32_t n, std::int32_t l_block, std::int32_t threads,
                    std::int32_t parallel_kind, const double* a, const double* b, double* c);

// The block product of method 2: adds the L x L product of the blocks at a
// and b into the block at c; rows of all three are n elements apart.
void MultCacheBlock(std::int32_t l, std::int32_t n, const double* a, const double* b, double* c);

// Method 3: C += A*B, column by column (A is m x k, B k x n, C m x n, each
// with its row count as leading dimension), in blocks of nb with a packed A
// block in `work` (nb rows of at least nb doubles) and 2 x 2 register sums.
// k < 1 or nb < 1: nothing is read or written.
void MultBlockPack_2x2(std::int32_t m, std::int32_t n, std::int32_t k, std::int32_t nb,
                       const double* a, const double* b, double* c, double** work);

// Method 4, the vectorised packed method: depth blocks of l_block, row blocks
// of l_block (level 0) or bands of columns (levels 1 and 2) shared among
// OpenMP threads, packed panels of B and the register
// kernels of the libraries Tavrel (level 0, SSE2) and Tavrel_8x4 (levels 1 and
// 2, AVX). Level 0: A and C row by row from index 0, B row by row from index 1;
// l_block and n must be multiples of 4. Levels 1 and 2: A, B and C column by
// column from index 0. C is added into. Notices: "Conflict between N and
// lblck" (n not a multiple of l_block, or l_block < 1) and "Conflict between N
// and lbv or lbh" compute nothing; "TBB does not support" computes all the
// same; "Memory allocation error" computes nothing and holds nothing.
// isa_level is the run's VectorPath::isa_level.
bool MultVectorPack(std::int32_t n, std::int32_t l_block, std::int32_t threads,
                    std::int32_t parallel_kind, const double* a, const double* b, double* c,
                    std::int32_t isa_level);

// The AVX path of method 4 (the processor must offer AVX); false after
// "Memory allocation error".
bool MultVectorPack_AVX(std::int32_t n, std::int32_t l_block, std::int32_t threads, const double* a,
                        const double* b, double* c);

// The path method 4 takes in one run: the IsaLevel (the processor's, lowered
// to the cap), which lays out the matrices and picks the library, and the
// width of Tavrel_8x4's kernel form on the AVX levels (0 at level 0).
struct VectorPath {
    std::int32_t isa_level = kIsaSse2;
    int form_bits = 0;
};

// Decides the path for `cap` from the processor and the library, once per
// run: the level, and the form Tavrel_8x4 is limited to (the library keeps
// that choice as its own until the next decision). Nothing, changing
// nothing, when the cap asks for what this processor or library does not run.
std::optional<VectorPath> DecideVectorPath(VectorIsaCap cap);

// What method 4 runs at `isa_level`: "SSE2 4x4 (Tavrel)", or the form in
// force in Tavrel_8x4 as the library reports it: "AVX 8x4 (Tavrel_8x4)" or
// "AVX-512 24x8 (Tavrel_8x4)".
std::string VectorPackKernelForm(std::int32_t isa_level);
// The instruction set that form's arithmetic uses: "SSE2", "AVX" or
// "AVX-512" (separate multiply and add in every form, never FMA, whatever
// the level's name).
std::string VectorPackInstructionSet(std::int32_t isa_level);
