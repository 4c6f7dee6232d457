// What each method is, in one place: its index, its key on the command line,
// its caption in the dialog, whether it runs on a team of threads, whether
// it reads l_block, the layout its matrices are prepared in, the scratch it
// needs, the form of its arithmetic and its entry point, which says whether
// it computed the product. The run, the front ends and the benchmarks read
// this table instead of naming methods.
#pragma once

#include <cstddef>
#include <cstdint>

#include "run_parameters.h"

// How A, B and C sit in their buffers of n*n+2 doubles.
enum class MatrixLayout {
    // Row by row with a one-element offset: element (r, c) at 1 + r*n + c.
    OffsetRows,
    // The same content as OffsetRows, read column by column from index 1.
    OffsetColumns,
    // Method 4's: from index 0, B one element further on at IsaLevel 0
    // (matrices.h says how).
    Vector,
};

// Everything an entry point may read. A, B and C are the run's buffers as
// allocated (the entry point applies its layout's offset); scratch_rows is
// present only for a method whose entry says it needs them.
struct MethodOperands {
    std::int32_t n = 0;
    std::int32_t l_block = 0;
    std::int32_t threads = 1;
    std::uint32_t chunk = 0;
    std::int32_t parallel_kind = kParallelOpenMp;
    const double* a = nullptr;
    const double* b = nullptr;
    double* c = nullptr;
    double** scratch_rows = nullptr;
    std::int32_t isa_level = 0;  // the path of the Vector layout's method
};

struct MethodEntry {
    std::int32_t index;
    const char* key;      // --method and the results: "block-pack-2x2"
    const char* caption;  // the dialog's radio button
    bool parallel;        // runs on `threads` threads; else on one
    bool uses_block;      // reads l_block
    bool scratch_rows;    // needs l_block scratch rows of l_block+1 doubles
    MatrixLayout layout;
    // The loop form of a scalar method ("scalar 2x2 registers"); empty for
    // the Vector layout, whose form depends on its path.
    const char* form;
    // Adds A*B into C. Returns whether it computed the product: false when
    // the method gave up with a notice (the TBB choice of HP, an n that is
    // no multiple of l_block, memory of its own it could not have), and C
    // is then as it came. A stop request (stop.h) may end it early either way.
    bool (*multiply)(const MethodOperands& operands);
};

// The methods in index order: MethodTable()[i].index == i.
const MethodEntry* MethodTable();
constexpr std::size_t kMethodTableSize = kMethodCount;

// The entry of `method`, or nullptr when there is none.
const MethodEntry* FindMethod(std::int32_t method);
