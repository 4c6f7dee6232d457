#include "notice.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "tick.h"

namespace {
NoticeHandler& CurrentHandler() {
    static NoticeHandler handler;
    return handler;
}

std::atomic<std::uint64_t> failure_notices{0};
}  // namespace

void ShowNotice(const std::string& text) {
    const ClockPause pause;
    if (const NoticeHandler& handler = CurrentHandler()) {
        handler(text);
    } else {
        std::fprintf(stderr, "notice: %s\n", text.c_str());
    }
}

void ShowFailureNotice(const std::string& text) {
    failure_notices.fetch_add(1, std::memory_order_relaxed);
    ShowNotice(text);
}

std::uint64_t FailureNoticeCount() { return failure_notices.load(std::memory_order_relaxed); }

NoticeHandler SetNoticeHandler(NoticeHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}
