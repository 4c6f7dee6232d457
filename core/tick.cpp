#include "tick.h"

#include <time.h>

#include <chrono>
#include <mutex>
#include <utility>

namespace {
std::function<double()>& TickOverride() {
    static std::function<double()> source;
    return source;
}

std::function<double()>& FineOverride() {
    static std::function<double()> source;
    return source;
}

std::function<double()>& CpuOverride() {
    static std::function<double()> source;
    return source;
}

// The pauses so far on both clocks; `depth` counts the pauses in progress,
// which began at the `since_*` readings.
struct PauseBook {
    std::mutex mutex;
    int depth = 0;
    double since_tick = 0, since_fine = 0;
    double paused_tick = 0, paused_fine = 0;
};

PauseBook& Pauses() {
    static PauseBook book;
    return book;
}
}  // namespace

double TickMilliseconds() {
    if (const auto& source = TickOverride()) return source();
    const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count());
}

double FineSeconds() {
    if (const auto& source = FineOverride()) return source();
    const std::chrono::duration<double> since_start =
        std::chrono::steady_clock::now().time_since_epoch();
    return since_start.count();
}

double ProcessCpuSeconds() {
    if (const auto& source = CpuOverride()) return source();
    timespec now{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double RunTickMilliseconds() {
    PauseBook& book = Pauses();
    std::lock_guard<std::mutex> lock(book.mutex);
    if (book.depth > 0) return book.since_tick - book.paused_tick;
    return TickMilliseconds() - book.paused_tick;
}

double RunFineSeconds() {
    PauseBook& book = Pauses();
    std::lock_guard<std::mutex> lock(book.mutex);
    if (book.depth > 0) return book.since_fine - book.paused_fine;
    return FineSeconds() - book.paused_fine;
}

ClockPause::ClockPause() {
    PauseBook& book = Pauses();
    std::lock_guard<std::mutex> lock(book.mutex);
    if (book.depth++ > 0) return;
    book.since_tick = TickMilliseconds();
    book.since_fine = FineSeconds();
}

ClockPause::~ClockPause() {
    PauseBook& book = Pauses();
    std::lock_guard<std::mutex> lock(book.mutex);
    if (--book.depth > 0) return;
    book.paused_tick += TickMilliseconds() - book.since_tick;
    book.paused_fine += FineSeconds() - book.since_fine;
}

namespace tick_testing {
// Pauses measured on one clock mean nothing on another: a new clock starts
// with none.
void OverrideTickSource(std::function<double()> source) {
    TickOverride() = std::move(source);
    std::lock_guard<std::mutex> lock(Pauses().mutex);
    Pauses().paused_tick = 0;
}

void OverrideCpuSource(std::function<double()> source) { CpuOverride() = std::move(source); }

void OverrideFineSource(std::function<double()> source) {
    FineOverride() = std::move(source);
    std::lock_guard<std::mutex> lock(Pauses().mutex);
    Pauses().paused_fine = 0;
}
}  // namespace tick_testing
