#include "tests/support/console_interrupt.h"

#include <chrono>
#include <thread>

#include "platform/win32.h"

namespace osvari::testing {
namespace {

BOOL WINAPI survive_console_event(DWORD) { return TRUE; }

}  // namespace

InterruptedRun run_with_ctrl_c(const std::function<ProcessResult()>& run, const std::filesystem::path& ready_file) {
  InterruptedRun interrupted;
  FreeConsole();
  if (!AllocConsole()) {
    interrupted.generate_error = GetLastError();
    return interrupted;
  }
  // This test program survives the event by handling it. Ignoring it with a null handler
  // would be inherited by the launcher and keep the event from its handlers.
  SetConsoleCtrlHandler(survive_console_event, TRUE);

  std::thread running([&] { interrupted.result = run(); });
  for (int attempt = 0; attempt < 200 && !std::filesystem::exists(ready_file); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  interrupted.ready = std::filesystem::exists(ready_file);
  interrupted.generated = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
  if (!interrupted.generated) interrupted.generate_error = GetLastError();
  running.join();
  FreeConsole();
  SetConsoleCtrlHandler(survive_console_event, FALSE);
  return interrupted;
}

}  // namespace osvari::testing
