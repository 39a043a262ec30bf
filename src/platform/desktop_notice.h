// A notice on the desktop through `notify-send` (libnotify), when the machine
// has it; without it the call does nothing. Never blocks on the notification
// daemon: the program runs detached. Thread-safe.
#pragma once

#include <string>

namespace orwenna {

// True when a notice was handed to notify-send.
bool notifyDesktop(const std::string& title, const std::string& text);

}  // namespace orwenna
