#include "stop.h"

#include <atomic>
#include <utility>

namespace {
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the request is set from signal handlers");

std::function<void()>& Watcher() {
    static std::function<void()> watcher;
    return watcher;
}
thread_local bool t_in_watcher = false;
}  // namespace

void RequestStop() { g_stop_requested.store(true, std::memory_order_relaxed); }
void ClearStopRequest() { g_stop_requested.store(false, std::memory_order_relaxed); }
bool StopRequested() {
    if (const auto& watcher = Watcher(); watcher && !t_in_watcher) {
        t_in_watcher = true;
        watcher();
        t_in_watcher = false;
    }
    return g_stop_requested.load(std::memory_order_relaxed);
}

namespace stop_testing {
void WatchStopChecks(std::function<void()> watcher) { Watcher() = std::move(watcher); }
}  // namespace stop_testing
