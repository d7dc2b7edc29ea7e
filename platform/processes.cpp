#include "platform/processes.h"

#include "platform/win32.h"
// After <windows.h>:
#include <psapi.h>

namespace osvari {

std::uint32_t last_error() { return GetLastError(); }

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

std::uint32_t process_id_of(RawHandle process) { return GetProcessId(process); }

std::uint64_t system_time_as_file_time() {
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void sleep_milliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::uint32_t get_environment_variable(const wchar_t* name, wchar_t* buffer, std::uint32_t capacity) {
  return GetEnvironmentVariableW(name, buffer, capacity);
}

void set_environment_variable(const wchar_t* name, const wchar_t* value) { SetEnvironmentVariableW(name, value); }

const wchar_t* process_command_line() { return GetCommandLineW(); }

UniqueHandle open_process_for_query(std::uint32_t process_id) {
  return UniqueHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
}

std::uint32_t process_image_path(RawHandle process, wchar_t* buffer, std::uint32_t capacity) {
  return K32GetModuleFileNameExW(process, nullptr, buffer, capacity);
}

StandardHandles standard_handles() {
  return {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
}

UniqueHandle create_process(const wchar_t* application, wchar_t* command_line, const StandardHandles& handles) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = handles.input;
  startup.hStdOutput = handles.output;
  startup.hStdError = handles.error;
  PROCESS_INFORMATION information{};
  if (!CreateProcessW(application, command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                      &startup, &information)) {
    return UniqueHandle();
  }
  CloseHandle(information.hThread);
  return UniqueHandle(information.hProcess);
}

bool wait_for_object(RawHandle handle, std::uint32_t timeout_milliseconds) {
  return WaitForSingleObject(handle, timeout_milliseconds) == WAIT_OBJECT_0;
}

bool get_process_exit_code(RawHandle process, std::uint32_t& exit_code) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return false;
  exit_code = code;
  return true;
}

void terminate_process(RawHandle process, std::uint32_t exit_code) { TerminateProcess(process, exit_code); }

UniqueHandle duplicate_handle(RawHandle handle) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle();
  }
  return UniqueHandle(copy);
}

}  // namespace osvari
