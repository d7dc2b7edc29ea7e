#include "platform/runtime.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/win32.h"

namespace osvari {

int runtime_argument_count() { return __argc; }

wchar_t** runtime_argument_vector() { return __wargv; }

void abort_quietly() {
  std::fflush(nullptr);
  // msvcrt's abort shows a message box in a GUI-subsystem program (or writes its own line).
  // Raising SIGABRT with the default action ends the process as abort does, with status 3.
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
  _exit(3);
}

}  // namespace osvari
