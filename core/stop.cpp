#include "stop.h"

#include <atomic>
#include <utility>

namespace {
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the request is set from signal handlers");

// Whether a watcher is set: the one thing a look reads besides the request.
std::atomic<bool> g_watched{false};
std::function<void()>& Watcher() {
    static std::function<void()> watcher;
    return watcher;
}
thread_local bool t_in_watcher = false;
}  // namespace

void RequestStop() { g_stop_requested.store(true, std::memory_order_relaxed); }
void ClearStopRequest() { g_stop_requested.store(false, std::memory_order_relaxed); }
bool StopRequested() {
    if (g_watched.load(std::memory_order_relaxed) && !t_in_watcher) {
        t_in_watcher = true;
        Watcher()();
        t_in_watcher = false;
    }
    return g_stop_requested.load(std::memory_order_relaxed);
}

namespace stop_testing {
void WatchStopChecks(std::function<void()> watcher) {
    g_watched.store(false, std::memory_order_relaxed);
    Watcher() = std::move(watcher);
    g_watched.store(static_cast<bool>(Watcher()), std::memory_order_relaxed);
}
}  // namespace stop_testing
