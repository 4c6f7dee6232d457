// The first product of a process, timed as vorp-cli times a run (the same
// preparation, span and fine clock): a reference BLAS, for comparing first
// calls like with like. vorp-cli runs its reference rows after the methods,
// in the same process, when the library is loaded and warm; here the
// library is loaded before the span, and its first dgemm, with whatever it
// sets up on first use, is the timed product.
//   first_call openblas|blis N THREADS
// Prints the GFLOPS of the fine clock, or nothing and exit 1 when the run
// did not complete.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference_dgemm.h"

namespace {
class QuietSink : public ReportSink {
public:
    void AppendLine(const std::string&) override {}
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: first_call openblas|blis N THREADS\n");
        return 2;
    }
    const std::string name = argv[1];
    const ReferenceLibrary library =
        name == "blis" ? ReferenceLibrary::Blis : ReferenceLibrary::OpenBlas;
    if (name != "blis" && name != "openblas") return 2;
    if (!ReferenceDgemmAvailable(library)) return 1;  // loads it, outside the span
    RunParameters params;
    params.n = std::atoi(argv[2]);
    params.threads = std::atoi(argv[3]);
    QuietSink sink;
    const RunResult result = RunReferenceDgemm(params, sink, library);
    if (result.outcome != RunOutcome::Completed || result.measurements.fine_seconds <= 0) return 1;
    std::printf("%.4g\n", result.measurements.operations * 1e-9 / result.measurements.fine_seconds);
    return 0;
}
