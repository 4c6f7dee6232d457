// One benchmark run: normalise the parameters, allocate and prepare A, B and
// C, time one method, optionally check the product, report, release, and
// return what it used and found. Needs no user interface: a report sink
// receives the lines and notices go through ShowNotice. The caller's
// parameters are its own: a front end that keeps what a run used (as the
// dialog keeps the lowered chunk) copies it from the result.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "matrices.h"
#include "run_parameters.h"

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void AppendLine(const std::string& line) = 0;
};

// The buffers of one run. A, B and C hold n*n+2 doubles, 16-byte aligned;
// method 3 also gets a table of l_block scratch rows of l_block+1 doubles.
// All are empty between runs.
struct RunBuffers {
    double* a = nullptr;
    double* b = nullptr;
    double* c = nullptr;
    double** scratch_rows = nullptr;
    std::int32_t scratch_row_count = 0;
};

// Frees every buffer that is present and marks it empty; safe on empty buffers.
void ReleaseMatrices(RunBuffers& buffers);

enum class RunOutcome {
    Completed,   // the report lines were appended
    AllocError,  // "Alloc Error" was shown
    Refused,     // parameters with no defined outcome; a notice said why
    Stopped,     // a stop request ended the method or the check: "Stopped"
};

// The timed span, on the millisecond tick (the report lines) and on the fine
// clock (the statistics of front ends). Both leave out the time a notice
// waited for the user.
struct RunMeasurements {
    double start_tick = 0;
    double duration_seconds = 0;  // from the millisecond tick
    double fine_seconds = 0;      // the same span on the fine clock
    double cpu_seconds = 0;       // the process's CPU time over the span, all threads
    double operations = 0;
    double mflops = 0;  // -1 when the duration is not greater than 0
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Refused;
    // The parameters the run used: n, l_block, threads and chunk as
    // Normalised gives them, the other fields as given. Refused: the given
    // parameters, as they came. AllocError and Stopped: the normalised ones,
    // which the run had begun with; a front end keeps them only from a
    // Completed run.
    RunParameters parameters;
    RunMeasurements measurements;
    std::int32_t isa_level = 0;
    // Whether C holds a product: false when the run did not complete or the
    // method's entry point (or the ProductOverride) says it computed nothing.
    bool product = false;
    CheckVerdict check = CheckVerdict::NotRun;
    // The check's largest relative difference; NaN when it had no reference
    // or did not run.
    double check_difference = std::numeric_limits<double>::quiet_NaN();
    // The texts of the notices the run showed, in order; each also went
    // through ShowNotice to the installed handler as it came.
    std::vector<std::string> notices;
};

// Appends the DURATION, OPS and Performance lines of `m`.
void AppendTimingLines(ReportSink& sink, const RunMeasurements& m);

// Performs one run with `params`, normalised once (RunResult::parameters).
// `buffers` must be empty on entry and is empty again on return.
RunResult RunBenchmark(RunParameters params, ReportSink& sink, RunBuffers& buffers);

// A product timed in place of the method, for a reference library: it gets
// the normalised parameters and the buffers prepared for `params.method`,
// may append report lines, and returns whether it computed the product (as
// a method's entry point does); everything else of the run is unchanged.
using ProductOverride =
    std::function<bool(const RunParameters& p, RunBuffers& buffers, ReportSink& sink)>;
RunResult RunBenchmark(RunParameters params, ReportSink& sink, RunBuffers& buffers,
                       const ProductOverride& product);
RunResult RunBenchmark(RunParameters params, ReportSink& sink);
