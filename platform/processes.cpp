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

static_assert(thread_priority_below_normal == THREAD_PRIORITY_BELOW_NORMAL);
static_assert(thread_priority_lowest == THREAD_PRIORITY_LOWEST);

int current_thread_priority() {
  const int priority = GetThreadPriority(GetCurrentThread());
  return priority == THREAD_PRIORITY_ERROR_RETURN ? THREAD_PRIORITY_NORMAL : priority;
}

void end_process(std::uint32_t exit_code) { ExitProcess(exit_code); }

void set_current_thread_priority(int priority) { SetThreadPriority(GetCurrentThread(), priority); }

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

UniqueHandle create_inheritable_named_event(const wchar_t* name) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = TRUE;
  return UniqueHandle(CreateEventW(&attributes, TRUE, FALSE, name));
}

bool named_event_exists(const wchar_t* name) {
  const UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name));
  if (event.is_valid()) return true;
  return GetLastError() == ERROR_ACCESS_DENIED;
}

std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id));
  if (!process.is_valid()) {
    // An id that names no process is refused as an invalid parameter; anything else (access
    // denied) means a process is there that this user may not ask about.
    if (GetLastError() == ERROR_INVALID_PARAMETER) return std::nullopt;
    return 0;
  }
  // A process that has ended but whose handle someone still holds can still be opened.
  if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return std::nullopt;
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) return 0;
  return (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

}  // namespace osvari
