#include "launcher/finish/shutdown.h"

#include <mutex>

#include "base/error_reporting.h"
#include "launcher/finish/made_folder_record.h"
#include "launcher/finish/sweep_while_waiting.h"
#include "launcher/finish/tree_removal.h"
#include "paths/extended_length_path.h"
#include "payload/unpack.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemCleanupOperations final : public CleanupOperations {
 public:
  bool wait_for_child(RawHandle child, std::uint32_t timeout_milliseconds) override {
    return wait_for_object(child, timeout_milliseconds);
  }
  void terminate_child(RawHandle child, std::uint32_t exit_code) override { terminate_process(child, exit_code); }
  void close_child(UniqueHandle) override {}  // the handle closes as the argument goes away
  std::wstring removal_path(const wchar_t* path) override { return extended_length_path(full_path_name(path)); }
  void remove_tree(const std::wstring& path) override { (void)osvari::remove_tree(path, system_file_tree_operations()); }
  bool is_existing_directory(const std::wstring& path) override { return osvari::is_existing_directory(path.c_str()); }
  void sleep(std::uint32_t milliseconds) override { sleep_milliseconds(milliseconds); }
};

void end_child(UniqueHandle child, CleanupOperations& system) {
  if (!child.is_valid()) return;
  if (!system.wait_for_child(child.get(), child_end_timeout_milliseconds)) {
    system.terminate_child(child.get(), terminated_child_exit_code);
  }
  system.close_child(std::move(child));
}

// Once this run's folder is gone, so is the record of its making.
void forget_if_gone(const UnpackDirectory& directory) {
  const std::wstring path = extended_length_path(full_path_name(directory.c_str()));
  if (!osvari::is_existing_directory(path.c_str())) forget_made_folder(path);
}

}  // namespace

CleanupOperations& system_cleanup_operations() {
  static SystemCleanupOperations operations;
  return operations;
}

void remove_unpack_directory(const UnpackDirectory& directory, CleanupOperations& system) {
  static std::mutex one_removal_at_a_time;
  const std::lock_guard lock(one_removal_at_a_time);
  const std::wstring path = system.removal_path(directory.c_str());
  system.remove_tree(path);
  for (int retry = 0; retry < removal_retries; ++retry) {
    // Only a directory that is still there is worth another walk.
    if (!system.is_existing_directory(path)) return;
    system.sleep(removal_pause_milliseconds);
    system.remove_tree(path);
  }
}

void cleanup_unpack_directory(UniqueHandle child, bool may_hold_files, const UnpackDirectory& directory,
                              CleanupOperations& system) {
  end_child(std::move(child), system);
  if (may_hold_files) remove_unpack_directory(directory, system);
}

void cleanup_unpack_directory() {
  // A file still being written would keep its folder from going; a sweep still running would
  // be cut off part way by the end of the process.
  stop_unpacking();
  stop_sweeps_while_waiting();
  const bool may_hold_files = (unpack_flag_raised() || unpack_directory_created()) && !unpack_directory_kept();
  cleanup_unpack_directory(take_child_process(), may_hold_files, unpack_directory(), system_cleanup_operations());
  if (may_hold_files) forget_if_gone(unpack_directory());
}

void remove_own_unpack_directory() {
  if (unpack_directory_created() && !unpack_directory_kept()) {
    remove_unpack_directory(unpack_directory(), system_cleanup_operations());
    forget_if_gone(unpack_directory());
  }
}

bool is_interrupt_event(unsigned long event) {
  return event == 0 || event == 1;  // CTRL_C_EVENT, CTRL_BREAK_EVENT
}

bool is_cleanup_event(unsigned long event) {
  switch (event) {
    case 0:  // CTRL_C_EVENT
    case 1:  // CTRL_BREAK_EVENT
    case 2:  // CTRL_CLOSE_EVENT
    case 5:  // CTRL_LOGOFF_EVENT
    case 6:  // CTRL_SHUTDOWN_EVENT
      return true;
    default:
      return false;
  }
}

int console_control_handler(unsigned long event) {
  // The program gets the same event from the console and decides for itself whether to end;
  // this process keeps waiting for it and removes the folder once it has ended.
  if (is_interrupt_event(event) && child_runs_program()) return 1;
  if (is_cleanup_event(event)) cleanup_unpack_directory();
  return 0;  // FALSE: let the next handler end the process
}

void install_console_control_handler() {
  if (!register_console_control_handler(console_control_handler)) {
    fatal_error("Error, failed to register signal handler.");
  }
}

}  // namespace osvari
