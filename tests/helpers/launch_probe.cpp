// The launcher tests' stand-in for the launcher: built like it (GUI subsystem, wide runtime
// arguments), so that what it sees as a child is what the launcher's child sees.
// OSVARI_PROBE chooses what it does:
//   echo            writes each runtime argument as one line of hexadecimal code units
//   exit            ends with OSVARI_PROBE_EXIT_CODE (any 32-bit value)
//   wait            sleeps until it is ended from outside
//   launch          runs launch_child; the child takes OSVARI_PROBE_CHILD as its OSVARI_PROBE.
//                   With OSVARI_PROBE_RENAME_SELF_TO it first moves its own file there
//   handler         calls console_control_handler with OSVARI_PROBE_EVENT, writes its result
//   console_self    takes a console of its own, registers the handler and sends itself Ctrl-C
//   console_parent  takes a console of its own, registers the handler and runs launch_child;
//                   the child inherits the console
//   ctrl_c_ignored  (as a child of console_parent) ignores Ctrl-C and sends it to its console
// Every mode but echo, exit and wait owns OSVARI_PROBE_UNPACK_DIRECTORY, when given, as the
// unpack directory, with the unpack flag raised.
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/shared_state.h"
#include "launcher/finish/shutdown.h"
#include "launcher/run/child_launch.h"
#include "paths/environment.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "platform/win32.h"

namespace {

std::wstring started_as;

std::wstring variable(const wchar_t* name) { return osvari::get_environment_value(name).value_or(L""); }

std::uint32_t number(const wchar_t* name) { return std::wcstoul(variable(name).c_str(), nullptr, 0); }

void echo_arguments() {
  const int count = osvari::runtime_argument_count();
  wchar_t** arguments = osvari::runtime_argument_vector();
  for (int index = 0; index < count; ++index) {
    for (const wchar_t* unit = arguments[index]; *unit != L'\0'; ++unit) {
      std::printf("%04x ", static_cast<unsigned>(*unit));
    }
    std::printf("\n");
  }
}

bool own_unpack_directory() {
  const std::wstring directory = variable(L"OSVARI_PROBE_UNPACK_DIRECTORY");
  if (directory.empty()) return true;
  if (!osvari::unpack_directory().assign(directory)) return false;
  osvari::raise_unpack_flag();
  return true;
}

void write_line(const std::string& text) {
  std::printf("%ls: %s\n", started_as.c_str(), text.c_str());
  std::fflush(stdout);
}

// Registered before the launcher's handler, so it runs after it (handlers run newest first):
// it shows that the launcher's handler returned FALSE, and what it left behind.
BOOL WINAPI report_event(DWORD event) {
  const bool present = osvari::is_existing_directory(osvari::unpack_directory().c_str());
  write_line("event " + std::to_string(event) + ", unpack directory " + (present ? "present" : "gone"));
  return FALSE;
}

BOOL WINAPI ignore_event(DWORD event) {
  write_line("ignored event " + std::to_string(event));
  return TRUE;
}

// A console of its own, so that the events reach no process outside the test.
bool take_own_console_with_handlers() {
  FreeConsole();
  if (!AllocConsole()) return false;
  SetConsoleCtrlHandler(report_event, TRUE);
  osvari::install_console_control_handler();
  return true;
}

int launch_as_probe_child() {
  SetEnvironmentVariableW(L"OSVARI_PROBE", variable(L"OSVARI_PROBE_CHILD").c_str());
  return static_cast<int>(osvari::launch_child());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  started_as = variable(L"OSVARI_PROBE");
  const std::wstring& mode = started_as;
  if (mode == L"echo") {
    echo_arguments();
    return 0;
  }
  if (mode == L"exit") return static_cast<int>(number(L"OSVARI_PROBE_EXIT_CODE"));
  if (mode == L"wait") {
    Sleep(INFINITE);
    return 0;
  }

  if (!own_unpack_directory()) return 101;
  if (mode == L"launch") {
    const std::wstring new_name = variable(L"OSVARI_PROBE_RENAME_SELF_TO");
    if (!new_name.empty() && !MoveFileW(osvari::own_module_path().c_str(), new_name.c_str())) return 102;
    return launch_as_probe_child();
  }
  if (mode == L"handler") {
    std::printf("%d\n", osvari::console_control_handler(number(L"OSVARI_PROBE_EVENT")));
    return 0;
  }
  if (mode == L"console_self") {
    if (!take_own_console_with_handlers()) return 103;
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 104;
    Sleep(60'000);  // the default handler ends the process long before
    return 105;
  }
  if (mode == L"console_parent") {
    if (!take_own_console_with_handlers()) return 103;
    return launch_as_probe_child();
  }
  if (mode == L"ctrl_c_ignored") {
    SetConsoleCtrlHandler(ignore_event, TRUE);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 104;
    Sleep(60'000);  // the parent's handler ends this process long before
    return 105;
  }
  return 100;
}
