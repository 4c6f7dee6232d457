// The run's clocks: the millisecond tick of the report lines and a fine clock
// (std::chrono::steady_clock, in seconds) for the statistics. Both stand
// still while the user is being waited for (a notice that waits for an
// answer): the run clocks are the raw clocks less the time spent in pauses,
// a pause in progress included, so a timed span never contains the user's
// time. All clocks are replaceable for tests.
#pragma once

#include <functional>

// Raw readings: whole milliseconds, and seconds with the steady clock's
// resolution. Both are monotonic.
double TickMilliseconds();
double FineSeconds();

// Readings with every pause so far taken off. Durations are differences of
// two readings of the same clock.
double RunTickMilliseconds();
double RunFineSeconds();

// CPU time of the whole process (all its threads, user and system), in
// seconds: beside a timed span it shows whether the threads had their
// cores or other processes took them.
double ProcessCpuSeconds();

// Stops the run clocks from construction to destruction. Pauses may nest and
// may come from any thread; the clocks run again when the last one ends.
class ClockPause {
public:
    ClockPause();
    ~ClockPause();
    ClockPause(const ClockPause&) = delete;
    ClockPause& operator=(const ClockPause&) = delete;
};

namespace tick_testing {
// Replace the clocks (for runs of a known duration); empty restores them.
void OverrideTickSource(std::function<double()> source);
void OverrideFineSource(std::function<double()> source);
void OverrideCpuSource(std::function<double()> source);
}  // namespace tick_testing
