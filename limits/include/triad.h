// The memory bandwidth a team of threads reaches, measured as STREAM does by
// its triad a[i] = b[i] + s * c[i] over arrays well beyond the last-level
// cache, each thread on one contiguous slice that it also touched first, so
// that its pages sit near it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "processor_info.h"

// Bytes one element moves as STREAM counts them: b[i] and c[i] read, a[i]
// written. The read of a[i]'s line that a write-allocate cache makes before
// the write is not counted (it would make 32).
constexpr double kTriadBytesPerElement = 3 * sizeof(double);
constexpr bool kTriadCountsWriteAllocate = false;

// The triad's scalar s.
constexpr double kTriadScalar = 3.0;

// The slice [begin, end) of n elements that thread `rank` of a team of `team`
// takes, in both functions below: contiguous, in order of rank, and starting
// on a 64-byte line (n split in whole lines of 8 doubles, the last slice
// taking the rest), so that no two threads write to one line.
struct TriadSlice {
    std::int64_t begin = 0, end = 0;
};
TriadSlice TriadSliceOf(std::int64_t n, std::int32_t team, std::int32_t rank);

// Writes a[i] = 0, b[i] = 1 and c[i] = 2 with a team of `threads` threads,
// each its own slice: the first touch, which places the pages. Returns the
// team that ran.
std::int32_t FillTriadArrays(double* a, double* b, double* c, std::int64_t n, std::int32_t threads);

// One pass of a[i] = b[i] + scalar * c[i] over n elements, multiply and add
// rounded apart, by a team of `threads` threads, each its own slice. Returns
// the team that ran; a pass with the same team as FillTriadArrays's finds
// every slice where its thread placed it.
std::int32_t RunTriad(double* a, const double* b, const double* c, double scalar, std::int64_t n,
                      std::int32_t threads);

// How large each of the three arrays is, and why.
struct TriadSize {
    std::int64_t elements = 0;  // doubles per array
    std::string reason;         // "4 x the 32 MiB L3 cache", ...
};
// kTriadCacheMultiple times the largest cache of the list (the last level),
// at most kTriadMostArrayBytes; kTriadDefaultArrayBytes when the list is
// empty. The list is one core's caches, as CachesFromCpuid gives them.
TriadSize ChooseTriadSize(const std::vector<CpuidCache>& caches);

// STREAM's rule: each array at least four times the last-level cache, so that
// what one pass leaves in the cache is little of what the next one reads.
constexpr std::uint64_t kTriadCacheMultiple = 4;
// When cpuid tells nothing: four times 32 MiB, more than the last level of
// most processors of one socket.
constexpr std::uint64_t kTriadDefaultArrayBytes = std::uint64_t{128} << 20;
// Bounds the three arrays to 3 GiB on processors with a very large last-level
// cache, so that the measurement stays within seconds and memory.
constexpr std::uint64_t kTriadMostArrayBytes = std::uint64_t{1} << 30;
