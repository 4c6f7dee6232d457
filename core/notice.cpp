#include "notice.h"

#include <cstdio>
#include <utility>

#include "tick.h"

namespace {
NoticeHandler& CurrentHandler() {
    static NoticeHandler handler;
    return handler;
}

// The texts of the innermost NoticeLog of this thread, or null.
thread_local std::vector<std::string>* current_log = nullptr;
}  // namespace

void ShowNotice(const std::string& text) {
    if (current_log) current_log->push_back(text);
    const ClockPause pause;
    if (const NoticeHandler& handler = CurrentHandler()) {
        handler(text);
    } else {
        std::fprintf(stderr, "notice: %s\n", text.c_str());
    }
}

NoticeHandler SetNoticeHandler(NoticeHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}

NoticeLog::NoticeLog(std::vector<std::string>& texts)
    : outer_(std::exchange(current_log, &texts)) {}

NoticeLog::~NoticeLog() { current_log = outer_; }
