// Notices: blocking messages with fixed texts ("Alloc Error", "Check Error", ...).
// One process-wide function shows them; the front end installs the handler
// (a message box, the terminal, or a recorder in tests). ShowNotice returns
// only after the handler has returned, so a notice waits for the user; the
// run clocks stand still meanwhile (tick.h), so the wait is never timed.
#pragma once

#include <functional>
#include <string>
#include <vector>

using NoticeHandler = std::function<void(const std::string& text)>;

void ShowNotice(const std::string& text);

// Installs `handler` and returns the one it replaces. An empty handler
// restores the default, which writes "notice: <text>" to standard error.
NoticeHandler SetNoticeHandler(NoticeHandler handler);

// While it lives, every notice shown on the thread that made it is also
// appended to `texts`, in order, before the handler sees it; the innermost
// of nested logs takes it. A run keeps the notices it raised this way.
class NoticeLog {
public:
    explicit NoticeLog(std::vector<std::string>& texts);
    ~NoticeLog();
    NoticeLog(const NoticeLog&) = delete;
    NoticeLog& operator=(const NoticeLog&) = delete;

private:
    std::vector<std::string>* outer_;
};
