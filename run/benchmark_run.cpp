#include "benchmark_run.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "memory.h"
#include "method_table.h"
#include "methods.h"
#include "notice.h"
#include "processor_info.h"
#include "stop.h"
#include "tick.h"

namespace {
constexpr std::size_t kMatrixAlignment = 16;
constexpr std::size_t kLineCapacity = 256;

std::size_t MatrixElements(std::int32_t n) { return static_cast<std::size_t>(n) * n + 2; }

// printf's %g in the C locale, whatever locale the process runs in (a
// desktop session's may write a decimal comma): the report lines read the
// same in every front end.
std::string ShortestDecimal(double value) {
    constexpr int kSignificantDigits = 6;  // %g's precision
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general,
                                   kSignificantDigits)
                         .ptr;
    return std::string(text, end);
}

template <typename... Values>
void AppendFormatted(ReportSink& sink, const char* format, Values... values) {
    char line[kLineCapacity];
    std::snprintf(line, sizeof line, format, values...);
    sink.AppendLine(line);
}

// The scratch rows of a method that needs them: a table of l_block pointers,
// then one row of l_block + 1 doubles per entry (with the allocator's
// alignment slack).
std::uint64_t ScratchRowsBytes(std::int32_t l_block) {
    const auto rows = static_cast<std::uint64_t>(l_block);
    return rows * sizeof(double*) + rows * ((rows + 1) * sizeof(double) + kMatrixAlignment);
}

// Everything the run allocates: A, B and C, and the method's scratch rows.
// Method 4's packing slots have a guard of their own, as does the check's
// reference (a refusal there costs the check only, "Memory allocation error
// during check").
std::uint64_t RunBytes(const RunParameters& p) {
    const std::uint64_t matrices = 3 * MatrixElements(p.n) * sizeof(double);
    return matrices + (FindMethod(p.method)->scratch_rows ? ScratchRowsBytes(p.l_block) : 0);
}

// The threads the method will start: the parallel methods' thread count.
std::int32_t ThreadsOf(const RunParameters& p) {
    return FindMethod(p.method)->parallel ? std::max(p.threads, 1) : 1;
}

bool AllocateMatrices(const RunParameters& p, RunBuffers& buffers) {
    if (!FitsInAvailableMemory(RunBytes(p), ThreadsOf(p))) return false;
    const std::size_t count = MatrixElements(p.n);
    buffers.a = AllocateArray<double>(count, kMatrixAlignment);
    buffers.b = AllocateArray<double>(count, kMatrixAlignment);
    buffers.c = AllocateArray<double>(count, kMatrixAlignment);
    return buffers.a && buffers.b && buffers.c;
}

// Zeroes A, B and C (elements 0..n*n; the last one is left as it came) in
// pieces, so that a stop request ends it soon (the first touch of fresh
// pages is slow in virtual machines, about 0.5 s per GiB even on huge
// pages), and looks again before each piece whether what is still to be
// touched fits: another process may have taken the memory since the guard
// looked, and the kernel would kill this one while it touches the pages.
// false when it no longer fits.
bool ZeroMatrices(std::int32_t n, RunBuffers& buffers) {
    constexpr std::size_t kPieceBytes = std::size_t{32} << 20;
    const std::size_t matrix_bytes = (MatrixElements(n) - 1) * sizeof(double);
    const std::uint64_t total = 3 * static_cast<std::uint64_t>(matrix_bytes);
    std::uint64_t untouched = total;
    for (double* matrix : {buffers.a, buffers.b, buffers.c}) {
        auto* at = reinterpret_cast<unsigned char*>(matrix);
        for (std::size_t done = 0; done < matrix_bytes && !StopRequested(); done += kPieceBytes) {
            // The guard has just looked before the first piece; less than a
            // piece is the margins' to cover. A fresh reading costs 0.1 ms.
            if (untouched < total && untouched >= kPieceBytes &&
                !StillFitsInAvailableMemory(untouched)) {
                return false;
            }
            const std::size_t piece = std::min(kPieceBytes, matrix_bytes - done);
            std::memset(at + done, 0, piece);
            untouched -= piece;
        }
    }
    return true;
}

// A stop request ends the run with "Stopped": no figure, nothing counted.
RunResult StoppedRun(RunResult result, ReportSink& sink, RunBuffers& buffers) {
    sink.AppendLine("Stopped");
    ReleaseMatrices(buffers);
    result.product = false;
    result.outcome = RunOutcome::Stopped;
    return result;
}

// The scratch rows, as ScratchRowsBytes counts them.
bool AllocateScratchRows(std::int32_t l_block, RunBuffers& buffers) {
    buffers.scratch_rows =
        AllocateArray<double*>(static_cast<std::size_t>(l_block), alignof(double*));
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

// Whether the method computed the product.
bool DispatchMethod(const RunParameters& p, RunBuffers& buffers, std::int32_t isa_level) {
    MethodOperands operands;
    operands.n = p.n;
    operands.l_block = p.l_block;
    operands.threads = p.threads;
    operands.chunk = p.chunk;
    operands.parallel_kind = p.parallel_kind;
    operands.a = buffers.a;
    operands.b = buffers.b;
    operands.c = buffers.c;
    operands.scratch_rows = buffers.scratch_rows;
    operands.isa_level = isa_level;
    return FindMethod(p.method)->multiply(operands);
}
}  // namespace

void AppendTimingLines(ReportSink& sink, const RunMeasurements& m) {
    sink.AppendLine("DURATION:  " + ShortestDecimal(m.duration_seconds) + "  s");
    sink.AppendLine("OPS:  " + ShortestDecimal(m.operations));
    sink.AppendLine("Performance:  " + ShortestDecimal(m.mflops) + "  Mflops");
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

namespace {
// The run of RunBenchmark, without the notices.
RunResult PerformRun(const RunParameters& given, ReportSink& sink, RunBuffers& buffers,
                     const ProductOverride& product) {
    RunResult result;
    result.parameters = given;
    if (const auto problem = ParameterProblem(given)) {
        ShowNotice(*problem);
        return result;
    }
    const MethodEntry& method =
        *FindMethod(given.method);  // ParameterProblem has vouched for the index
    VectorPath path;                // level 0 for the methods without a vector path
    if (method.layout == MatrixLayout::Vector) {
        const std::optional<VectorPath> decided = DecideVectorPath(given.isa_cap);
        if (!decided) {
            ShowNotice(
                "Invalid parameters: the instruction set cap asks for more than this processor "
                "runs");
            return result;
        }
        path = *decided;
    }
    KeepFreedMemoryInTheHeap();  // the scratch rows in the timed span come from warm pages
    const RunParameters p = result.parameters = Normalised(given);
    result.isa_level = path.isa_level;

    if (!AllocateMatrices(p, buffers) || !ZeroMatrices(p.n, buffers)) {
        ShowNotice("Alloc Error");
        ReleaseMatrices(buffers);
        result.outcome = RunOutcome::AllocError;
        return result;
    }
    PrepareMatrices(p.method, p.n, buffers.a, buffers.b, path.isa_level);
    if (StopRequested()) return StoppedRun(result, sink, buffers);
    sink.AppendLine("Matrices are prepared");

    RunMeasurements& m = result.measurements;
    m.start_tick = RunTickMilliseconds();
    const double start_fine = RunFineSeconds();
    const double start_cpu = ProcessCpuSeconds();
    m.operations = 0;
    if (method.scratch_rows && !AllocateScratchRows(p.l_block, buffers)) {
        ShowNotice("Alloc Error");
        ReleaseMatrices(buffers);
        result.outcome = RunOutcome::AllocError;
        return result;
    }
    result.product =
        product ? product(p, buffers, sink) : DispatchMethod(p, buffers, result.isa_level);
    if (method.layout == MatrixLayout::Vector) {
        AppendFormatted(sink, "vectorization: %s", IsaLevelName(result.isa_level));
    }
    m.operations = 2.0 * static_cast<double>(p.n) * p.n * p.n;
    m.duration_seconds = (RunTickMilliseconds() - m.start_tick) * 0.001;
    m.fine_seconds = RunFineSeconds() - start_fine;
    m.cpu_seconds = ProcessCpuSeconds() - start_cpu;

    if (p.check && !StopRequested() && !result.product) {
        result.check = CheckVerdict::NoProduct;  // a refusal is no wrong arithmetic
    } else if (p.check && !StopRequested()) {
        result.check = CheckResult(p.method, p.n, buffers.a, buffers.b, buffers.c, result.isa_level,
                                   &result.check_difference);
    }
    if (StopRequested())
        return StoppedRun(result, sink, buffers);  // the product or its check is unfinished
    m.mflops = m.duration_seconds > 0 ? m.operations * 1e-6 / m.duration_seconds : -1;
    AppendTimingLines(sink, m);
    ReleaseMatrices(buffers);
    result.outcome = RunOutcome::Completed;
    return result;
}
}  // namespace

RunResult RunBenchmark(RunParameters params, ReportSink& sink, RunBuffers& buffers) {
    return RunBenchmark(params, sink, buffers, nullptr);
}

RunResult RunBenchmark(RunParameters params, ReportSink& sink, RunBuffers& buffers,
                       const ProductOverride& product) {
    std::vector<std::string> notices;
    RunResult result;
    {
        const NoticeLog log(notices);
        result = PerformRun(params, sink, buffers, product);
    }
    result.notices = std::move(notices);
    return result;
}

RunResult RunBenchmark(RunParameters params, ReportSink& sink) {
    RunBuffers buffers;
    return RunBenchmark(params, sink, buffers);
}
