#include "launcher/shutdown.h"

#include "launcher/error_reporting.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/shell.h"

namespace osvari {
namespace {

class SystemCleanupOperations final : public CleanupOperations {
 public:
  bool wait_for_child(RawHandle child, std::uint32_t timeout_milliseconds) override {
    return wait_for_object(child, timeout_milliseconds);
  }
  void terminate_child(RawHandle child, std::uint32_t exit_code) override { terminate_process(child, exit_code); }
  void close_child(UniqueHandle) override {}  // the handle closes as the argument goes away
  void delete_tree(const wchar_t* double_terminated_paths) override { osvari::delete_tree(double_terminated_paths); }
  bool is_existing_directory(const wchar_t* path) override { return osvari::is_existing_directory(path); }
  void sleep(std::uint32_t milliseconds) override { sleep_milliseconds(milliseconds); }
};

// The shell's list of paths ends with an empty entry. The path may fill the unpack directory's
// buffer, so the list lives in a buffer one code unit larger that owns both zeros.
class DeleteList {
 public:
  explicit DeleteList(const UnpackDirectory& directory) {
    static_assert(decltype(units_)::capacity() > UnpackDirectory::capacity());
    (void)units_.assign(directory.view());  // always fits: the buffer is larger
    units_.buffer()[units_.size() + 1] = L'\0';
  }
  [[nodiscard]] const wchar_t* c_str() const { return units_.c_str(); }

 private:
  BoundedWideString<unpack_directory_capacity + 1> units_;
};

void end_child(UniqueHandle child, CleanupOperations& system) {
  if (!child.is_valid()) return;
  if (!system.wait_for_child(child.get(), child_end_timeout_milliseconds)) {
    system.terminate_child(child.get(), terminated_child_exit_code);
  }
  system.close_child(std::move(child));
}

}  // namespace

CleanupOperations& system_cleanup_operations() {
  static SystemCleanupOperations operations;
  return operations;
}

void cleanup_unpack_directory(UniqueHandle child, bool unpack_flag, const UnpackDirectory& directory,
                              CleanupOperations& system) {
  end_child(std::move(child), system);
  if (!unpack_flag) return;
  const DeleteList list(directory);
  system.delete_tree(list.c_str());
  for (int retry = 0; retry < removal_retries; ++retry) {
    // Only a directory that is still there is worth another request.
    if (!system.is_existing_directory(directory.c_str())) return;
    system.sleep(removal_pause_milliseconds);
    system.delete_tree(list.c_str());
  }
}

void cleanup_unpack_directory() {
  cleanup_unpack_directory(take_child_process(), unpack_flag_raised(), unpack_directory(),
                           system_cleanup_operations());
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
  if (is_cleanup_event(event)) cleanup_unpack_directory();
  return 0;  // FALSE: let the next handler end the process
}

void install_console_control_handler() {
  if (!register_console_control_handler(console_control_handler)) {
    fatal_error("Error, failed to register signal handler.");
  }
}

}  // namespace osvari
