// Processes and the environment.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/unique_handle.h"

namespace osvari {

std::uint32_t last_error();  // GetLastError: read right after the call that failed
std::uint32_t current_process_id();
std::uint32_t process_id_of(RawHandle process);  // GetProcessId
// GetSystemTimeAsFileTime as one 64-bit count of 100 ns intervals since 1601.
std::uint64_t system_time_as_file_time();
void sleep_milliseconds(std::uint32_t milliseconds);
// ExitProcess: ends the process from any thread, as the system's console handler does.
[[noreturn]] void end_process(std::uint32_t exit_code);

// GetThreadPriority and SetThreadPriority of the calling thread.
int current_thread_priority();
void set_current_thread_priority(int priority);
inline constexpr int thread_priority_below_normal = -1;  // THREAD_PRIORITY_BELOW_NORMAL
inline constexpr int thread_priority_lowest = -2;        // THREAD_PRIORITY_LOWEST

// GetEnvironmentVariableW: the length of the value when it fits (0 when unset or empty),
// otherwise the capacity it needs.
std::uint32_t get_environment_variable(const wchar_t* name, wchar_t* buffer, std::uint32_t capacity);
// SetEnvironmentVariableW; a null value removes the variable. The result is not reported.
void set_environment_variable(const wchar_t* name, const wchar_t* value);
const wchar_t* process_command_line();  // GetCommandLineW

// OpenProcess with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, not inheritable.
UniqueHandle open_process_for_query(std::uint32_t process_id);
// K32GetModuleFileNameExW for the process's main executable; 0 on failure.
std::uint32_t process_image_path(RawHandle process, wchar_t* buffer, std::uint32_t capacity);

struct StandardHandles {
  RawHandle input;
  RawHandle output;
  RawHandle error;
};
StandardHandles standard_handles();  // GetStdHandle for all three

// CreateProcessW with inherited handles, NORMAL_PRIORITY_CLASS, the parent's environment and
// current directory, and STARTF_USESTDHANDLES with `handles`. The thread handle is closed at
// once. Returns an invalid handle on failure; last_error() then tells why.
UniqueHandle create_process(const wchar_t* application, wchar_t* command_line, const StandardHandles& handles);

inline constexpr std::uint32_t infinite_wait = 0xFFFFFFFF;
// WaitForSingleObject; true when the object was signalled (WAIT_OBJECT_0).
bool wait_for_object(RawHandle handle, std::uint32_t timeout_milliseconds);
bool get_process_exit_code(RawHandle process, std::uint32_t& exit_code);
void terminate_process(RawHandle process, std::uint32_t exit_code);
// DuplicateHandle within this process, same access; an invalid handle on failure.
UniqueHandle duplicate_handle(RawHandle handle);

// CreateEventW with an inheritable handle, so that a child started with inherited handles (and
// whatever it starts so) keeps the named object alive; an invalid handle on failure.
UniqueHandle create_inheritable_named_event(const wchar_t* name);
// OpenEventW: true when an object of that name exists (also when it may not be opened).
bool named_event_exists(const wchar_t* name);
// For a process with this id that is still running: its creation time (100 ns intervals since
// 1601, as GetProcessTimes gives it), or 0 when it cannot be asked. No value when no process
// with that id is running.
std::optional<std::uint64_t> running_process_start_time(std::uint32_t process_id);

}  // namespace osvari
