// A GUI-subsystem program, built like the launcher, that makes one failure report chosen by
// its first argument, so tests can read the exact bytes on both streams and the exit code.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "base/error_reporting.h"
#include "platform/runtime.h"
#include "platform/win32.h"

namespace {

// Stands for the removal of the unpack directory; fails itself, which must not start it again.
void failing_action() {
  std::fputs("action before exit\n", stdout);
  osvari::fatal_error("Error, inside the action.");
}

}  // namespace

// A last argument "with-action" sets an action to run before the exit.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace osvari;
  int count = runtime_argument_count();
  wchar_t** arguments = runtime_argument_vector();
  if (count > 1 && std::wstring(arguments[count - 1]) == L"with-action") {
    set_action_before_failure_exit(failing_action);
    --count;
  }
  const std::wstring scenario = count > 1 ? arguments[1] : L"";
  const std::wstring argument = count > 2 ? arguments[2] : L"";
  if (scenario == L"fatal-error") fatal_error("Error, couldn't decode attached data.");
  if (scenario == L"system-error") {
    report_system_error("Error, couldn't launch child", std::wcstoul(argument.c_str(), nullptr, 0));
    std::exit(2);
  }
  if (scenario == L"open-for-writing") fatal_open_for_writing(argument);
  if (scenario == L"expand") fatal_expand_error(L"{TEMP}\\onefile_{PID}_{TIME}");
  if (scenario == L"internal-limit") fail_internal_limit("the command line does not fit in 32768 code units");
  return 99;
}
