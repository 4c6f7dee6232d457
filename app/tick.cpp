#include "tick.h"

#include <chrono>
#include <utility>

namespace {
std::function<double()>& Override() {
    static std::function<double()> source;
    return source;
}
}  // namespace

double TickMilliseconds() {
    if (const auto& source = Override()) return source();
    const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count());
}

namespace tick_testing {
void OverrideTickSource(std::function<double()> source) { Override() = std::move(source); }
}  // namespace tick_testing
