// Notices: blocking messages with fixed texts ("Alloc Error", "Check Error", ...).
// One process-wide function shows them; the front end installs the handler
// (a message box, the terminal, or a recorder in tests). ShowNotice returns
// only after the handler has returned, so a notice waits for the user; the
// run clocks stand still meanwhile (tick.h), so the wait is never timed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using NoticeHandler = std::function<void(const std::string& text)>;

void ShowNotice(const std::string& text);

// A notice that also says the operation at hand gives up without its result
// (a method that computes nothing). Counted, so that the run can tell a
// method's refusal from a product.
void ShowFailureNotice(const std::string& text);
std::uint64_t FailureNoticeCount();

// Installs `handler` and returns the one it replaces. An empty handler
// restores the default, which writes "notice: <text>" to standard error.
NoticeHandler SetNoticeHandler(NoticeHandler handler);
