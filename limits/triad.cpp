// Baseline x86-64, multiply and add kept apart: the triad is bound by memory,
// not by the width of its arithmetic, and runs on any processor.
#include "triad.h"

#include <omp.h>

#include <algorithm>

namespace {
constexpr std::int64_t kLineDoubles = 8;  // doubles in a 64-byte cache line

std::string SizeText(std::uint64_t bytes) {
    if (bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes >> 10) + " KiB";
}
}  // namespace

TriadSlice TriadSliceOf(std::int64_t n, std::int32_t team, std::int32_t rank) {
    const std::int64_t lines = n / kLineDoubles;
    const std::int64_t per_thread = lines / team, extra = lines % team;
    // The first `extra` threads take one line more.
    const std::int64_t first_line = rank * per_thread + std::min<std::int64_t>(rank, extra);
    const std::int64_t line_count = per_thread + (rank < extra ? 1 : 0);
    TriadSlice slice{first_line * kLineDoubles, (first_line + line_count) * kLineDoubles};
    if (rank == team - 1) slice.end = n;
    return slice;
}

std::int32_t FillTriadArrays(double* a, double* b, double* c, std::int64_t n,
                             std::int32_t threads) {
    std::int32_t team = 1;
#pragma omp parallel num_threads(std::max(threads, 1))
    {
        const std::int32_t size = omp_get_num_threads();
        const TriadSlice slice = TriadSliceOf(n, size, omp_get_thread_num());
        for (std::int64_t i = slice.begin; i < slice.end; ++i) {
            a[i] = 0.0;
            b[i] = 1.0;
            c[i] = 2.0;
        }
#pragma omp master
        team = size;
    }
    return team;
}

std::int32_t RunTriad(double* __restrict a, const double* __restrict b, const double* __restrict c,
                      double scalar, std::int64_t n, std::int32_t threads) {
    std::int32_t team = 1;
#pragma omp parallel num_threads(std::max(threads, 1))
    {
        const std::int32_t size = omp_get_num_threads();
        const TriadSlice slice = TriadSliceOf(n, size, omp_get_thread_num());
        for (std::int64_t i = slice.begin; i < slice.end; ++i) a[i] = b[i] + scalar * c[i];
#pragma omp master
        team = size;
    }
    return team;
}

TriadSize ChooseTriadSize(const std::vector<CpuidCache>& caches) {
    const CpuidCache* last = nullptr;
    for (const CpuidCache& cache : caches) {
        if (cache.kind == CacheKind::Instruction || cache.bytes == 0) continue;
        if (last == nullptr || cache.level > last->level ||
            (cache.level == last->level && cache.bytes > last->bytes)) {
            last = &cache;
        }
    }
    TriadSize size;
    std::uint64_t bytes = kTriadDefaultArrayBytes;
    if (last == nullptr) {
        size.reason = "the default " + SizeText(bytes) + ": no cache sizes from cpuid";
    } else {
        bytes = kTriadCacheMultiple * last->bytes;
        size.reason = std::to_string(kTriadCacheMultiple) + " x the " + SizeText(last->bytes) +
                      " L" + std::to_string(last->level) + " cache";
        if (bytes > kTriadMostArrayBytes) {
            bytes = kTriadMostArrayBytes;
            size.reason += ", bounded to " + SizeText(bytes);
        }
    }
    size.elements = static_cast<std::int64_t>(bytes / sizeof(double));
    return size;
}
