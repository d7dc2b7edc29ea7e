#include "platform/runtime.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace osvari {

int runtime_argument_count() { return __argc; }

wchar_t** runtime_argument_vector() { return __wargv; }

void copy_to_runtime_environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) {
    _wputenv_s(name, L"");  // an empty value removes the variable from the runtime's copy
    return;
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return;
  value.resize(length);
  _wputenv_s(name, value.c_str());
}

void abort_quietly() {
  std::fflush(nullptr);
  // msvcrt's abort shows a message box in a GUI-subsystem program (or writes its own line).
  // Raising SIGABRT with the default action ends the process as abort does, with status 3.
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
  _exit(3);
}

}  // namespace osvari
