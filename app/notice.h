// Notices: blocking messages with fixed texts ("Alloc Error", "Check Error", ...).
// One process-wide function shows them; the front end installs the handler
// (a message box, the terminal, or a recorder in tests). ShowNotice returns
// only after the handler has returned, so a notice waits for the user.
#pragma once

#include <functional>
#include <string>

using NoticeHandler = std::function<void(const std::string& text)>;

void ShowNotice(const std::string& text);

// Installs `handler` and returns the one it replaces. An empty handler
// restores the default, which writes "notice: <text>" to standard error.
NoticeHandler SetNoticeHandler(NoticeHandler handler);
