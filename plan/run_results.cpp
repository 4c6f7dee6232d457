#include "run_results.h"

#include <algorithm>
#include <cmath>

#include "kernel_form.h"
#include "processor_info.h"
#include "reference_dgemm.h"

namespace {
// The worst verdict of the point's runs: failed, then no reference or no
// product, then passed, then not run.
CheckVerdict PointCheck(const PointResult& point) {
    const auto rank = [](CheckVerdict v) {
        switch (v) {
            case CheckVerdict::Failed:
                return 3;
            case CheckVerdict::NoReference:
            case CheckVerdict::NoProduct:
                return 2;
            case CheckVerdict::Passed:
                return 1;
            default:
                return 0;
        }
    };
    CheckVerdict worst = CheckVerdict::NotRun;
    for (const RunRecord& run : point.runs) {
        if (rank(run.result.check) > rank(worst)) worst = run.result.check;
    }
    return worst;
}

std::optional<double> LargestCheckDifference(const PointResult& point) {
    std::optional<double> largest;
    for (const RunRecord& run : point.runs) {
        const double d = run.result.check_difference;
        if (!std::isnan(d) && (!largest || d > *largest)) largest = d;
    }
    return largest;
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
        summary.kernel_form = ReferenceKernelForm(point.point.library);
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

struct SampleTotals {
    std::size_t runs = 0;
    double fine = 0, tick = 0, cpu = 0;
    bool figure = true;
};

std::vector<SampleTotals> CountedSamples(const PointResult& point) {
    std::vector<SampleTotals> samples;
    for (const RunRecord& run : point.runs) {
        if (run.warmup || run.sample == 0) continue;
        if (samples.size() < run.sample) samples.resize(run.sample);
        SampleTotals& s = samples[run.sample - 1];
        ++s.runs;
        s.fine += run.result.measurements.fine_seconds;
        s.tick += run.result.measurements.duration_seconds;
        s.cpu += run.result.measurements.cpu_seconds;
        s.figure = s.figure && GaveProduct(run);
    }
    return samples;
}
}  // namespace

bool GaveProduct(const RunRecord& run) {
    return run.result.outcome == RunOutcome::Completed && run.result.product &&
           run.result.check != CheckVerdict::Failed;
}

bool HasProblem(const RunRecord& run) {
    return !GaveProduct(run) || !run.result.notices.empty() ||
           run.result.check == CheckVerdict::NoReference;
}

std::string ProblemText(const RunRecord& run) {
    std::vector<std::string> parts;
    for (const std::string& notice : run.result.notices)
        parts.push_back("notice \"" + notice + "\"");
    if (run.result.outcome == RunOutcome::Stopped) {
        parts.push_back("stopped");
    } else if (run.result.outcome != RunOutcome::Completed) {
        parts.push_back("run not completed");
    } else if (!run.result.product) {
        parts.push_back("no product");
    }
    if (run.result.check == CheckVerdict::Failed) parts.push_back("check failed");
    if (run.result.check == CheckVerdict::NoReference) parts.push_back("check without reference");
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

std::vector<ProblemSpan> ProblemSpans(const PointResult& point) {
    std::vector<ProblemSpan> spans;
    for (const RunRecord& run : point.runs) {
        if (!HasProblem(run)) continue;
        const std::string text = ProblemText(run);
        if (!spans.empty() && spans.back().text == text && spans.back().run->warmup == run.warmup) {
            spans.back().last = run.sequence;
            ++spans.back().count;
            continue;
        }
        spans.push_back({&run, run.sequence, run.sequence, 1, text});
    }
    return spans;
}

std::optional<double> GflopsAt(double operations, double seconds) {
    if (!(seconds > 0)) return std::nullopt;
    return operations * 1e-9 / seconds;
}

const char* CheckVerdictName(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Passed:
            return "passed";
        case CheckVerdict::Failed:
            return "failed";
        case CheckVerdict::NoReference:
            return "no reference";
        case CheckVerdict::NoProduct:
            return "no product";
        default:
            return "not run";
    }
}

PointSummary Summarise(const PointResult& point, std::int32_t cores) {
    PointSummary summary;
    summary.method = PointMethodKey(point.point);
    for (const RunRecord& run : point.runs) summary.problem = summary.problem || HasProblem(run);
    for (const SampleTotals& sample : CountedSamples(point)) {
        ++summary.samples;
        if (!sample.figure || sample.runs == 0) {
            ++summary.failed_samples;
            continue;
        }
        summary.seconds.push_back(sample.fine / static_cast<double>(sample.runs));
        summary.tick_seconds.push_back(sample.tick / static_cast<double>(sample.runs));
        summary.runs_per_sample.push_back(sample.runs);
        summary.short_samples = summary.short_samples || sample.fine < kMinSampleSeconds;
        if (sample.cpu > 0)
            summary.cpu_seconds.push_back(sample.cpu / static_cast<double>(sample.runs));
    }
    // Every sample with a figure has its CPU time where the CPU clock ran.
    if (!summary.cpu_seconds.empty() && summary.cpu_seconds.size() == summary.seconds.size()) {
        const std::int32_t usable =
            std::max(1, std::min(point.shown.threads, cores > 0 ? cores : UsableCores()));
        std::vector<double> shares;
        for (std::size_t i = 0; i < summary.seconds.size(); ++i) {
            if (summary.seconds[i] > 0)
                shares.push_back(summary.cpu_seconds[i] / summary.seconds[i] / usable);
        }
        if (!shares.empty()) {
            summary.cpu_share = Describe(shares).median;
            summary.cpu_short = *summary.cpu_share < kCpuShortShare;
        }
    }
    summary.statistics = Describe(summary.seconds);
    summary.noisy = summary.statistics.count >= 2 && summary.statistics.cv > kNoisyCv;
    const RunParameters& p = point.shown;
    summary.operations = 2.0 * static_cast<double>(p.n) * p.n * p.n;
    if (summary.statistics.count > 0) {
        summary.best_gflops = GflopsAt(summary.operations, summary.statistics.min);
        summary.median_gflops = GflopsAt(summary.operations, summary.statistics.median);
    }
    DescribeKernel(point, summary);
    summary.check = CheckVerdictName(PointCheck(point));
    summary.check_difference = LargestCheckDifference(point);
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

bool AnyFigure(const std::vector<PointResult>& results) {
    for (const PointResult& point : results) {
        if (!Summarise(point).seconds.empty()) return true;
    }
    return false;
}
