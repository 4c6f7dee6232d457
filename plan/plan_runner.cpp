#include "plan_runner.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "notice.h"
#include "reference_dgemm.h"
#include "stop.h"

namespace {
// While it lives, the first notice of each text at a point is passed on to
// the handler installed before (or printed as the default does); repeats,
// which a batched sample would otherwise show once per run, are counted and
// told once at the end of the point. (Each run keeps its notices in its
// result.)
class NoticeCapture {
public:
    NoticeCapture()
        : previous_(SetNoticeHandler([this](const std::string& text) { Record(text); })) {}
    ~NoticeCapture() { SetNoticeHandler(std::move(previous_)); }
    NoticeCapture(const NoticeCapture&) = delete;
    NoticeCapture& operator=(const NoticeCapture&) = delete;

    void EndPoint() {
        for (const auto& [text, repeats] : repeats_) {
            if (repeats == 0) continue;
            std::fprintf(stderr, "notice: \"%s\" again in %zu more runs\n", text.c_str(), repeats);
        }
        repeats_.clear();
    }

private:
    void Record(const std::string& text) {
        const auto [entry, first] = repeats_.try_emplace(text, 0);
        if (!first) {
            ++entry->second;
        } else if (previous_) {
            previous_(text);
        } else {
            std::fprintf(stderr, "notice: %s\n", text.c_str());
        }
    }

    NoticeHandler previous_;
    std::map<std::string, std::size_t> repeats_;  // by text, at the point at hand
};
}  // namespace

RunResult RunPoint(const PlannedPoint& point, ReportSink& sink) {
    return point.reference ? RunReferenceDgemm(point.params, sink, point.library)
                           : RunBenchmark(point.params, sink);
}

namespace {
// Runs one point; the runs are appended to result.runs as they end.
class PointRunner {
public:
    PointRunner(const PlanSettings& settings, const PlanHooks& hooks, ReportSink& sink,
                std::size_t& sequence)
        : settings_(settings),
          hooks_(hooks),
          sink_(sink),
          sequence_(sequence),
          run_(hooks.run ? hooks.run : PointRunFunction(RunPoint)) {}

    void Run(RunProgress progress, PointResult& result) {
        progress.warmup = true;
        std::size_t runs_per_sample = 1;
        for (std::int32_t k = 1; k <= settings_.warmup; ++k) {
            progress.round = static_cast<std::size_t>(k);
            if (!RunOnce(progress, result, 0)) return Interrupted(result);
            // The last warm run sizes the first sample's batch.
            const RunRecord& warm = result.runs.back();
            runs_per_sample =
                GaveProduct(warm) ? NextRunsPerSample(1, warm.result.measurements.fine_seconds) : 1;
        }
        progress.warmup = false;
        double counted_seconds = 0;
        std::size_t sample = 1;
        std::size_t discarded_runs = 0;  // of the try before this one, when it was too short
        for (std::size_t attempt = 0; attempt < kMaxSamples; ++attempt) {
            if (sample > static_cast<std::size_t>(settings_.repeat) &&
                counted_seconds >= settings_.min_time_seconds) {
                return;
            }
            progress.resized_from = discarded_runs;
            progress.round = sample;
            progress.runs_in_sample = runs_per_sample;
            const std::size_t first = result.runs.size();
            double sample_seconds = 0;
            bool figure = true;
            for (std::size_t r = 0; r < runs_per_sample && figure; ++r) {
                progress.first_of_sample = r == 0;
                if (!RunOnce(progress, result, sample)) return Interrupted(result);
                figure = GaveProduct(result.runs.back());
                sample_seconds += result.runs.back().result.measurements.fine_seconds;
            }
            // A point without a product takes no more time than its repeats.
            if (!figure) {
                counted_seconds = settings_.min_time_seconds;
                discarded_runs = 0;
                ++sample;
                continue;
            }
            const std::size_t next = NextRunsPerSample(runs_per_sample, sample_seconds);
            if (next > runs_per_sample) {
                // Too short to count: it only sizes the next sample.
                for (std::size_t r = first; r < result.runs.size(); ++r) result.runs[r].sample = 0;
                discarded_runs = runs_per_sample;
                runs_per_sample = next;
                continue;
            }
            discarded_runs = 0;
            counted_seconds += sample_seconds;
            ++sample;
        }
    }

private:
    // Enough runs for the next sample to reach kMinSampleSeconds, growing at
    // most tenfold at a time (as Google Benchmark sizes its iterations).
    std::size_t NextRunsPerSample(std::size_t runs, double seconds) const {
        if (!settings_.batch_samples || seconds >= kMinSampleSeconds || runs >= kMaxRunsPerSample) {
            return runs;
        }
        const double wanted = seconds > 0 ? 1.4 * kMinSampleSeconds / seconds * runs : 10.0 * runs;
        const double grown = std::min(wanted, 10.0 * runs);
        return std::min(kMaxRunsPerSample, std::max(runs + 1, static_cast<std::size_t>(grown)));
    }

    bool PlanStopped() const { return hooks_.stop && hooks_.stop->load(); }

    void Interrupted(PointResult& result) { result.interrupted = true; }

    // One run; false (and nothing run) once a stop is requested.
    bool RunOnce(RunProgress& progress, PointResult& result, std::size_t sample) {
        if (PlanStopped()) return false;
        if (hooks_.before_run) hooks_.before_run(progress);
        RunRecord record;
        record.sequence = ++sequence_;
        record.warmup = progress.warmup;
        record.sample = sample;
        record.result = run_(result.point, sink_);
        result.runs.push_back(std::move(record));
        if (hooks_.after_run) hooks_.after_run(progress, result.runs.back());
        // A run that a stop request ended (stop.h) is the last of the plan.
        return !::StopRequested();
    }

    const PlanSettings& settings_;
    const PlanHooks& hooks_;
    ReportSink& sink_;
    std::size_t& sequence_;
    PointRunFunction run_;
};
}  // namespace

std::vector<PointResult> RunPlan(const std::vector<PlannedPoint>& plan,
                                 const PlanSettings& settings, ReportSink& sink,
                                 const PlanHooks& hooks) {
    NoticeCapture capture;
    std::vector<PointResult> results;
    std::size_t sequence = 0;
    PointRunner runner(settings, hooks, sink, sequence);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (hooks.stop && hooks.stop->load()) break;
        PointResult& result = results.emplace_back();
        result.point = plan[i];
        result.shown = NormalisedParameters(plan[i]);
        RunProgress progress;
        progress.point_index = i + 1;
        progress.points = plan.size();
        progress.point = &plan[i];
        progress.shown = result.shown;
        runner.Run(progress, result);
        capture.EndPoint();
        if (result.runs.empty()) {
            results.pop_back();
            break;
        }
        if (hooks.after_point && !result.interrupted) hooks.after_point(result);
    }
    return results;
}
