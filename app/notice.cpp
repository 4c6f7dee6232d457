#include "notice.h"

#include <cstdio>
#include <utility>

namespace {
NoticeHandler& CurrentHandler() {
    static NoticeHandler handler;
    return handler;
}
}  // namespace

void ShowNotice(const std::string& text) {
    if (const NoticeHandler& handler = CurrentHandler()) {
        handler(text);
    } else {
        std::fprintf(stderr, "notice: %s\n", text.c_str());
    }
}

NoticeHandler SetNoticeHandler(NoticeHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}
