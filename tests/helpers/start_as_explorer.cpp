// Starts a program as Explorer starts a double-clicked one: no standard handles, nothing
// inherited, no console. Usage: start_as_explorer [--temp DIR] PROGRAM [ARGUMENT...]; TEMP and
// TMP become DIR for the program (Wine sets its own otherwise). Waits for the program and prints
// "exit=<its whole exit code in decimal>", or "start failed=<error>".
#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace {

// Arguments as the program should receive them, each quoted.
std::wstring quoted(const wchar_t* argument) {
  std::wstring text = L"\"";
  text += argument;
  text += L"\"";
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  if (argc > 3 && std::wstring(argv[1]) == L"--temp") {
    SetEnvironmentVariableW(L"TEMP", argv[2]);
    SetEnvironmentVariableW(L"TMP", argv[2]);
    first = 3;
  }
  if (argc <= first) {
    std::fputs("usage: start_as_explorer [--temp DIR] PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  std::wstring command_line = quoted(argv[first]);
  for (int i = first + 1; i < argc; ++i) command_line += L" " + quoted(argv[i]);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;  // all three left null
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[first], command_line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &process)) {
    std::printf("start failed=%lu\n", GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  std::printf("exit=%lu\n", exit_code);
  return 0;
}
