// The run's millisecond tick: a monotonic clock in whole milliseconds.
#pragma once

#include <functional>

double TickMilliseconds();

namespace tick_testing {
// Replaces the clock (for runs of a known duration); empty restores it.
void OverrideTickSource(std::function<double()> source);
}
