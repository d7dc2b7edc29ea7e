// Ending a still-running child and removing the unpack directory, at the normal end of the
// parent and from the console control handler in either role. Best effort: nothing is reported.
#pragma once

#include <cstdint>
#include <string>

#include "base/shared_state.h"
#include "platform/unique_handle.h"

namespace osvari {

inline constexpr std::uint32_t child_end_timeout_milliseconds = 5000;
// STATUS_CONTROL_C_EXIT: a child ended here must not look as if it had succeeded.
inline constexpr std::uint32_t terminated_child_exit_code = 0xC000013A;
inline constexpr int removal_retries = 20;
inline constexpr std::uint32_t removal_pause_milliseconds = 100;

// What the removal asks of the system; tests substitute a counting or faking binding.
class CleanupOperations {
 public:
  virtual ~CleanupOperations() = default;
  // True when the child ended within the time-out.
  virtual bool wait_for_child(RawHandle child, std::uint32_t timeout_milliseconds) = 0;
  virtual void terminate_child(RawHandle child, std::uint32_t exit_code) = 0;
  virtual void close_child(UniqueHandle child) = 0;
  // The "\\?\" form of the full path, in which the removal names the directory.
  virtual std::wstring removal_path(const wchar_t* path) = 0;
  // One walk over the tree (see tree_removal.h).
  virtual void remove_tree(const std::wstring& path) = 0;
  virtual bool is_existing_directory(const std::wstring& path) = 0;
  virtual void sleep(std::uint32_t milliseconds) = 0;
};

// The binding that calls the system.
CleanupOperations& system_cleanup_operations();

// Removes `directory` with one walk and repeats the walk up to 20 times, 100 ms apart, while
// the directory still exists. One removal at a time in the process: a second caller, on any
// thread, waits for the first to finish and then finds little or nothing left to do.
void remove_unpack_directory(const UnpackDirectory& directory, CleanupOperations& system);

// Ends `child` if it has not ended within 5000 ms and closes it; then, if the directory may
// hold files of this run, removes it as remove_unpack_directory does.
void cleanup_unpack_directory(UniqueHandle child, bool may_hold_files, const UnpackDirectory& directory,
                              CleanupOperations& system);

// The same over the process-wide state: the published child and the unpack directory, which
// may hold files once this process created it or raised the unpack flag. Stops the sweeps
// while waiting first (see sweep_while_waiting.h).
void cleanup_unpack_directory();

// Removes the process's unpack directory if this process created it; for the exit after a
// failure in the parent role, when no child is running.
void remove_own_unpack_directory();

// Ctrl-C and Ctrl-Break.
bool is_interrupt_event(unsigned long event);

// True for the events after which the process goes away: Ctrl-C, Ctrl-Break, console close,
// logoff and shutdown.
bool is_cleanup_event(unsigned long event);

// Removes the unpack directory for those events; returns FALSE, once the removal has finished,
// so the next handler (finally the system's) ends the process. While the packed program runs as
// the child, Ctrl-C and Ctrl-Break are its own: the handler returns TRUE at once and this
// process goes on waiting for the program.
int console_control_handler(unsigned long event);

// Registers console_control_handler; ends the process with "Error, failed to register signal
// handler." (exit code 2) when the system refuses.
void install_console_control_handler();

}  // namespace osvari
