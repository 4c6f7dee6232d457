#include "plan_runner.h"

#include <cstdio>
#include <utility>

#include "notice.h"
#include "reference_dgemm.h"

namespace {
// While it lives, notices are appended to *target (when set) and passed on to
// the handler that was installed before (or printed as the default does).
class NoticeCapture {
public:
    NoticeCapture()
        : previous_(SetNoticeHandler([this](const std::string& text) { Record(text); })) {}
    ~NoticeCapture() { SetNoticeHandler(std::move(previous_)); }
    NoticeCapture(const NoticeCapture&) = delete;
    NoticeCapture& operator=(const NoticeCapture&) = delete;

    void RecordInto(std::vector<std::string>* target) { target_ = target; }

private:
    void Record(const std::string& text) {
        if (target_) target_->push_back(text);
        if (previous_) {
            previous_(text);
        } else {
            std::fprintf(stderr, "notice: %s\n", text.c_str());
        }
    }

    NoticeHandler previous_;
    std::vector<std::string>* target_ = nullptr;
};
}  // namespace

RunResult RunPoint(const PlannedPoint& point, RunParameters& params, ReportSink& sink) {
    return point.reference ? RunReferenceDgemm(params, sink) : RunBenchmark(params, sink);
}

std::vector<PointResult> RunPlan(const std::vector<PlannedPoint>& plan, std::int32_t warmup,
                                 std::int32_t repeat, ReportSink& sink, const PlanHooks& hooks) {
    const PointRunFunction run = hooks.run ? hooks.run : PointRunFunction(RunPoint);
    NoticeCapture capture;
    std::vector<PointResult> results;
    RunProgress progress;
    progress.total = plan.size() * static_cast<std::size_t>(warmup + repeat);
    for (const PlannedPoint& point : plan) {
        PointResult& result = results.emplace_back();
        result.point = point;
        result.shown = NormalisedParameters(point);
        progress.point = &point;
        for (std::int32_t k = 0; k < warmup + repeat; ++k) {
            RunRecord& record = result.runs.emplace_back();
            record.sequence = ++progress.sequence;
            record.warmup = k < warmup;
            progress.warmup = record.warmup;
            progress.round = record.warmup ? k + 1 : k - warmup + 1;
            progress.rounds = record.warmup ? warmup : repeat;
            if (hooks.before_run) hooks.before_run(progress);
            RunParameters params = point.params;
            capture.RecordInto(&record.notices);
            record.result = run(point, params, sink);
            capture.RecordInto(nullptr);
        }
    }
    return results;
}
