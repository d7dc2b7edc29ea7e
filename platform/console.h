// Console control events.
#pragma once

#include <cstdint>

namespace osvari {

// A handler as SetConsoleCtrlHandler calls it: the event code in, TRUE if handled.
using ConsoleControlHandler = int (*)(unsigned long event);

// SetConsoleCtrlHandler(handler, TRUE); false when the system refuses.
bool register_console_control_handler(ConsoleControlHandler handler);

}  // namespace osvari
