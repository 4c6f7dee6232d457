#include "run_results.h"

#include <algorithm>

#include "kernel_form.h"
#include "processor_info.h"
#include "reference_dgemm.h"

namespace {
// "failed" when a run failed its check, "no reference" when a check could not
// get its reference, "passed" when some run passed, "not run" otherwise.
std::string CheckSummary(const PointResult& point) {
    bool no_reference = false, passed = false;
    for (const RunRecord& run : point.runs) {
        if (run.result.check == CheckVerdict::Failed) return "failed";
        no_reference = no_reference || run.result.check == CheckVerdict::NoReference;
        passed = passed || run.result.check == CheckVerdict::Passed;
    }
    if (no_reference) return "no reference";
    return passed ? "passed" : "not run";
}

const RunRecord* LastCompleted(const PointResult& point) {
    for (auto run = point.runs.rbegin(); run != point.runs.rend(); ++run) {
        if (run->result.outcome == RunOutcome::Completed) return &*run;
    }
    return nullptr;
}
// The kernel form and, for method 4, the IsaLevel its preparation chose (none
// when no run of the point completed).
void DescribeKernel(const PointResult& point, PointSummary& summary) {
    if (point.point.reference) {
        summary.kernel_form = ReferenceKernelForm();
        return;
    }
    const std::int32_t method = point.shown.method;
    const RunRecord* completed = LastCompleted(point);
    if (method != kMethodVectorPack) {
        summary.kernel_form = KernelFormName(method, kIsaSse2);
    } else if (completed) {
        summary.isa_level = completed->result.isa_level;
        summary.kernel_form = KernelFormName(method, *summary.isa_level);
    }
}
}  // namespace

TimingSummary SummariseTimes(std::vector<double> seconds) {
    TimingSummary summary;
    summary.count = seconds.size();
    if (seconds.empty()) return summary;
    std::sort(seconds.begin(), seconds.end());
    const std::size_t middle = seconds.size() / 2;
    summary.best_seconds = seconds.front();
    summary.median_seconds = seconds.size() % 2 == 1
                                 ? seconds[middle]
                                 : (seconds[middle - 1] + seconds[middle]) / 2;
    return summary;
}

std::optional<double> GflopsAt(double operations, double seconds) {
    if (!(seconds > 0)) return std::nullopt;
    return operations * 1e-9 / seconds;
}

const char* CheckVerdictName(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Passed: return "passed";
        case CheckVerdict::Failed: return "failed";
        case CheckVerdict::NoReference: return "no reference";
        default: return "not run";
    }
}

bool HasProblem(const RunRecord& run) {
    return run.result.outcome != RunOutcome::Completed || !run.notices.empty() ||
           run.result.check == CheckVerdict::Failed || run.result.check == CheckVerdict::NoReference;
}

std::string ProblemText(const RunRecord& run) {
    std::vector<std::string> parts;
    for (const std::string& notice : run.notices) parts.push_back("notice \"" + notice + "\"");
    if (run.result.check == CheckVerdict::Failed) parts.push_back("check failed");
    if (run.result.check == CheckVerdict::NoReference) parts.push_back("check without reference");
    if (run.result.outcome != RunOutcome::Completed) parts.push_back("run not completed");
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

PointSummary Summarise(const PointResult& point) {
    PointSummary summary;
    summary.method = PointMethodKey(point.point);
    std::vector<double> counted;
    for (const RunRecord& run : point.runs) {
        summary.problem = summary.problem || HasProblem(run);
        if (!run.warmup && run.result.outcome == RunOutcome::Completed) {
            counted.push_back(run.result.measurements.duration_seconds);
        }
    }
    summary.timing = SummariseTimes(counted);
    const RunParameters& p = point.shown;
    summary.operations = 2.0 * static_cast<double>(p.n) * p.n * p.n;
    if (summary.timing.count > 0) {
        summary.best_gflops = GflopsAt(summary.operations, summary.timing.best_seconds);
        summary.median_gflops = GflopsAt(summary.operations, summary.timing.median_seconds);
    }
    DescribeKernel(point, summary);
    summary.check = CheckSummary(point);
    return summary;
}

bool AnyProblem(const std::vector<PointResult>& results) {
    for (const PointResult& point : results) {
        for (const RunRecord& run : point.runs) {
            if (HasProblem(run)) return true;
        }
    }
    return false;
}
