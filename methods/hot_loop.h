// VORP_HOT_LOOP marks a hot loop that is compiled twice, for x86-64-v3 (AVX2
// and FMA) and for the baseline x86-64, the loader choosing one per process
// (GCC function multiversioning). The program itself keeps the baseline
// instruction set, so it still starts on any x86-64. Other compilers build the
// baseline version only.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VORP_HOT_LOOP __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define VORP_HOT_LOOP
#endif

// Helpers of a hot loop must be inlined into it so that they are compiled
// for each of its versions.
#define VORP_INLINE inline __attribute__((always_inline))
