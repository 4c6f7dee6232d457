// A request to stop the run at hand: from a signal handler, another thread
// or the user interface. The methods and the check look at it at a coarse
// grain (a row, a block, a depth block) and return early; the run then shows
// "Stopped" in place of its timing lines. It stays set until the front end
// clears it before the next run. Safe in a signal handler.
#pragma once

#include <functional>

void RequestStop();
void ClearStopRequest();
bool StopRequested();

namespace stop_testing {
// Calls `watcher` at every look at the request (StopRequested), on the
// thread that looks and before the request is read, so that a test can
// request a stop, count the looks or hold a thread at a known point. Looks
// made inside the watcher do not call it again. Empty removes it; set it
// only while no run is looking.
void WatchStopChecks(std::function<void()> watcher);
}  // namespace stop_testing
