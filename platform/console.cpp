#include "platform/console.h"

#include "platform/win32.h"

namespace osvari {

bool register_console_control_handler(ConsoleControlHandler handler) {
  return SetConsoleCtrlHandler(reinterpret_cast<PHANDLER_ROUTINE>(handler), TRUE) != FALSE;
}

}  // namespace osvari
