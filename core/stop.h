// A request to stop the run at hand: from a signal handler, another thread
// or the user interface. The methods and the check look at it at a coarse
// grain (a row, a block, a depth block) and return early; the run then shows
// "Stopped" in place of its timing lines. It stays set until the front end
// clears it before the next run. Safe in a signal handler.
#pragma once

void RequestStop();
void ClearStopRequest();
bool StopRequested();
