// Test doubles for the run's outputs and seams: a report sink that keeps its
// lines, a notice recorder, and scoped overrides of the allocation seam, the
// memory query, the clock and the looks at the stop request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "benchmark_run.h"
#include "memory.h"
#include "notice.h"
#include "processor_info.h"
#include "stop.h"
#include "tick.h"

class RecordingSink : public ReportSink {
public:
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// Records every notice instead of showing it, for the lifetime of the object.
class NoticeRecorder {
public:
    NoticeRecorder()
        : previous_(
              SetNoticeHandler([this](const std::string& text) { notices.push_back(text); })) {}
    ~NoticeRecorder() { SetNoticeHandler(previous_); }
    NoticeRecorder(const NoticeRecorder&) = delete;
    NoticeRecorder& operator=(const NoticeRecorder&) = delete;
    std::vector<std::string> notices;

private:
    NoticeHandler previous_;
};

// The nth allocation from now on fails while the object lives.
struct ScopedAllocationFailure {
    explicit ScopedAllocationFailure(int nth) { memory_testing::FailAllocationNumber(nth); }
    ~ScopedAllocationFailure() { memory_testing::FailAllocationNumber(0); }
};

struct ScopedAvailableMemory {
    explicit ScopedAvailableMemory(std::uint64_t bytes) {
        memory_testing::OverrideAvailableMemory(bytes);
    }
    ~ScopedAvailableMemory() { memory_testing::OverrideAvailableMemory(std::nullopt); }
};

// A clock that returns the given ticks in turn (the last one repeats).
struct ScopedTicks {
    explicit ScopedTicks(std::vector<double> ticks) {
        tick_testing::OverrideTickSource([ticks, next = std::size_t{0}]() mutable {
            const double tick = ticks[next < ticks.size() ? next : ticks.size() - 1];
            ++next;
            return tick;
        });
    }
    ~ScopedTicks() { tick_testing::OverrideTickSource({}); }
};

// A clock of both kinds that the test moves: `now` in seconds; the tick reads
// it in whole milliseconds.
struct ScopedManualClocks {
    ScopedManualClocks() {
        tick_testing::OverrideTickSource(
            [this] { return static_cast<double>(static_cast<long long>(now * 1000)); });
        tick_testing::OverrideFineSource([this] { return now; });
    }
    ~ScopedManualClocks() {
        tick_testing::OverrideTickSource({});
        tick_testing::OverrideFineSource({});
    }
    ScopedManualClocks(const ScopedManualClocks&) = delete;
    ScopedManualClocks& operator=(const ScopedManualClocks&) = delete;
    double now = 100.0;
};

// Counts the looks at the stop request (from every thread) while the object
// lives, and requests a stop at look number `stop_at` (from 1; 0 never): a
// stop at a known point of the run, whatever the machine's speed. Clears the
// request at the end.
class ScopedStopLooks {
public:
    explicit ScopedStopLooks(long stop_at = 0) {
        stop_testing::WatchStopChecks([this, stop_at] {
            if (looks.fetch_add(1) + 1 == stop_at) RequestStop();
        });
    }
    ~ScopedStopLooks() {
        stop_testing::WatchStopChecks({});
        ClearStopRequest();
    }
    ScopedStopLooks(const ScopedStopLooks&) = delete;
    ScopedStopLooks& operator=(const ScopedStopLooks&) = delete;
    std::atomic<long> looks{0};
};
