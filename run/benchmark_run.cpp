#include "benchmark_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "memory.h"
#include "methods.h"
#include "notice.h"
#include "stop.h"
#include "processor_info.h"
#include "tick.h"

namespace {
constexpr std::size_t kMatrixAlignment = 16;
constexpr std::size_t kLineCapacity = 256;

std::size_t MatrixElements(std::int32_t n) { return static_cast<std::size_t>(n) * n + 2; }

template <typename... Values>
void AppendFormatted(ReportSink& sink, const char* format, Values... values) {
    char line[kLineCapacity];
    std::snprintf(line, sizeof line, format, values...);
    sink.AppendLine(line);
}

// A, B and C. The check's reference has a guard of its own, and a refusal
// there costs the check only ("Memory allocation error during check").
std::uint64_t MatricesBytes(std::int32_t n) { return 3 * MatrixElements(n) * sizeof(double); }

// The threads the method will start: the parallel methods' thread count.
std::int32_t ThreadsOf(const RunParameters& p) {
    const bool parallel = p.method == kMethodHp || p.method == kMethodBlockCache ||
                          p.method == kMethodVectorPack;
    return parallel ? std::max(p.threads, 1) : 1;
}

bool AllocateMatrices(std::int32_t n, std::int32_t threads, RunBuffers& buffers) {
    if (!FitsInAvailableMemory(MatricesBytes(n), threads)) return false;
    const std::size_t count = MatrixElements(n);
    buffers.a = AllocateArray<double>(count, kMatrixAlignment);
    buffers.b = AllocateArray<double>(count, kMatrixAlignment);
    buffers.c = AllocateArray<double>(count, kMatrixAlignment);
    return buffers.a && buffers.b && buffers.c;
}

// Zeroes `bytes` from `block` in pieces, so that a stop request ends it
// soon: the first touch of fresh pages is slow in virtual machines (about
// 0.5 s per GiB even on huge pages).
void ZeroStoppably(void* block, std::size_t bytes) {
    constexpr std::size_t kPieceBytes = std::size_t{32} << 20;
    auto* at = static_cast<unsigned char*>(block);
    for (std::size_t done = 0; done < bytes && !StopRequested(); done += kPieceBytes) {
        std::memset(at + done, 0, std::min(kPieceBytes, bytes - done));
    }
}

// Elements 0..n*n are zero; the last one is left as it came.
void ZeroMatrices(std::int32_t n, RunBuffers& buffers) {
    const std::size_t zeroed_bytes = (MatrixElements(n) - 1) * sizeof(double);
    for (double* matrix : {buffers.a, buffers.b, buffers.c}) ZeroStoppably(matrix, zeroed_bytes);
}

// A stop request ends the run with "Stopped": no figure, nothing counted.
RunResult StoppedRun(RunResult result, ReportSink& sink, RunBuffers& buffers) {
    sink.AppendLine("Stopped");
    ReleaseMatrices(buffers);
    result.product = false;
    result.outcome = RunOutcome::Stopped;
    return result;
}

// Method 3's scratch rows: a table of l_block pointers, then one row of
// l_block + 1 doubles per entry.
bool AllocateScratchRows(std::int32_t l_block, RunBuffers& buffers) {
    buffers.scratch_rows = AllocateArray<double*>(static_cast<std::size_t>(l_block), alignof(double*));
    if (!buffers.scratch_rows) return false;
    buffers.scratch_row_count = l_block;
    for (std::int32_t i = 0; i < l_block; ++i) buffers.scratch_rows[i] = nullptr;
    for (std::int32_t i = 0; i < l_block; ++i) {
        buffers.scratch_rows[i] =
            AllocateArray<double>(static_cast<std::size_t>(l_block) + 1, kMatrixAlignment);
        if (!buffers.scratch_rows[i]) return false;
    }
    return true;
}

// The one place that maps a method index to its entry point.
void DispatchMethod(const RunParameters& p, RunBuffers& buffers, std::int32_t& isa_level) {
    switch (p.method) {
        case kMethodClassic:
            MultClassic(p.n, buffers.a, buffers.b, buffers.c);
            break;
        case kMethodHp:
            MultHP(p.n, p.threads, p.chunk, p.parallel_kind, buffers.a, buffers.b, buffers.c);
            break;
        case kMethodBlockCache:
            MultBlockCache(p.n, p.l_block, p.threads, p.parallel_kind, buffers.a, buffers.b,
                           buffers.c);
            break;
        case kMethodBlockPack2x2:
            MultBlockPack_2x2(p.n, p.n, p.n, p.l_block, buffers.a + 1, buffers.b + 1,
                              buffers.c + 1, buffers.scratch_rows);
            break;
        case kMethodVectorPack:
            MultVectorPack(p.n, p.l_block, p.threads, p.parallel_kind, buffers.a, buffers.b,
                           buffers.c, &isa_level);
            break;
        default:
            ShowFailureNotice("This method is not available in this build");
            break;
    }
}
}  // namespace

void AppendTimingLines(ReportSink& sink, const RunMeasurements& m) {
    AppendFormatted(sink, "DURATION:  %g  s", m.duration_seconds);
    AppendFormatted(sink, "OPS:  %g", m.operations);
    AppendFormatted(sink, "Performance:  %g  Mflops", m.mflops);
}

void ReleaseMatrices(RunBuffers& buffers) {
    ReleaseAligned(buffers.a);
    ReleaseAligned(buffers.b);
    ReleaseAligned(buffers.c);
    buffers.a = buffers.b = buffers.c = nullptr;
    if (buffers.scratch_rows) {
        for (std::int32_t i = 0; i < buffers.scratch_row_count; ++i) {
            ReleaseAligned(buffers.scratch_rows[i]);
            buffers.scratch_rows[i] = nullptr;
        }
        ReleaseAligned(buffers.scratch_rows);
        buffers.scratch_rows = nullptr;
    }
    buffers.scratch_row_count = 0;
}

RunResult RunBenchmark(RunParameters& params, ReportSink& sink, RunBuffers& buffers) {
    return RunBenchmark(params, sink, buffers, nullptr);
}

RunResult RunBenchmark(RunParameters& params, ReportSink& sink, RunBuffers& buffers,
                       const ProductOverride& product) {
    RunResult result;
    if (const auto problem = ParameterProblem(params)) {
        ShowNotice(*problem);
        return result;
    }
    KeepFreedMemoryInTheHeap();  // the scratch rows in the timed span come from warm pages
    RunParameters p = params;
    NormaliseOrderAndBlock(p.n, p.l_block);
    result.isa_level = kIsaSse2;

    if (!AllocateMatrices(p.n, ThreadsOf(p), buffers)) {
        ShowNotice("Alloc Error");
        ReleaseMatrices(buffers);
        result.outcome = RunOutcome::AllocError;
        return result;
    }
    ZeroMatrices(p.n, buffers);
    PrepareMatrices(p.method, p.n, buffers.a, buffers.b, result.isa_level);
    if (StopRequested()) return StoppedRun(result, sink, buffers);
    sink.AppendLine("Matrices are prepared");

    RunMeasurements& m = result.measurements;
    const std::uint64_t failures_before = FailureNoticeCount();
    m.start_tick = RunTickMilliseconds();
    const double start_fine = RunFineSeconds();
    m.operations = 0;
    NormaliseThreading(p.n, p.threads, p.chunk);
    if (p.method == kMethodBlockPack2x2 && !AllocateScratchRows(p.l_block, buffers)) {
        ShowNotice("Alloc Error");
        ReleaseMatrices(buffers);
        result.outcome = RunOutcome::AllocError;
        return result;
    }
    if (product) {
        product(p, buffers, sink);
    } else {
        DispatchMethod(p, buffers, result.isa_level);
    }
    if (p.method == kMethodVectorPack) {
        AppendFormatted(sink, "vectorization: %s", IsaLevelName(result.isa_level));
    }
    m.operations = 2.0 * static_cast<double>(p.n) * p.n * p.n;
    m.duration_seconds = (RunTickMilliseconds() - m.start_tick) * 0.001;
    m.fine_seconds = RunFineSeconds() - start_fine;
    result.product = FailureNoticeCount() == failures_before;

    if (p.check && !StopRequested() && !result.product) {
        result.check = CheckVerdict::NoProduct;  // a refusal is no wrong arithmetic
    } else if (p.check && !StopRequested()) {
        result.check = CheckResult(p.method, p.n, buffers.a, buffers.b, buffers.c, result.isa_level,
                                   &result.check_difference);
    }
    if (StopRequested()) return StoppedRun(result, sink, buffers);  // the product or its check is unfinished
    m.mflops = m.duration_seconds > 0 ? m.operations * 1e-6 / m.duration_seconds : -1;
    AppendTimingLines(sink, m);
    ReleaseMatrices(buffers);

    WriteBackNormalised(p, params);
    result.outcome = RunOutcome::Completed;
    return result;
}

RunResult RunBenchmark(RunParameters& params, ReportSink& sink) {
    RunBuffers buffers;
    return RunBenchmark(params, sink, buffers);
}
