#include "launcher/run/child_launch.h"

#include "base/error_reporting.h"
#include "base/shared_state.h"
#include "launcher/finish/shutdown.h"
#include "launcher/run/command_line.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

OwnModulePath fill_own_module_path() {
  OwnModulePath path;
  const std::uint32_t length = own_module_file_name(path.buffer(), own_module_path_capacity);
  if (length == 0) fail_internal_limit("the launcher's module path could not be obtained");
  // A result of the full capacity means the path was cut to fit.
  if (length >= own_module_path_capacity || !path.adopt_written_text()) {
    fail_internal_limit("the launcher's module path does not fit in 4096 code units");
  }
  return path;
}

}  // namespace

const OwnModulePath& own_module_path() {
  static const OwnModulePath path = fill_own_module_path();
  return path;
}

std::uint32_t launch_child(const std::function<void()>& while_child_starts) {
  const OwnModulePath& application = own_module_path();
  // Read now, so whatever this process received (console, files, pipes or nothing) goes on.
  const StandardHandles handles = standard_handles();
  build_child_command_line();

  UniqueHandle child = create_process(application.c_str(), child_command_line().buffer(), handles);
  if (!child.is_valid()) fatal_system_error("Error, couldn't launch child", last_error());

  // The console control handler gets a handle of its own, so that this thread can keep waiting
  // on its handle whatever the handler does with the other one.
  publish_child_process(duplicate_handle(child.get()));
  if (while_child_starts) while_child_starts();
  wait_for_object(child.get(), infinite_wait);
  std::uint32_t exit_code = 1;
  if (!get_process_exit_code(child.get(), exit_code)) exit_code = 1;

  take_child_process().reset();  // closes the handler's copy unless the handler already took it
  child.reset();
  cleanup_unpack_directory();
  return exit_code;
}

}  // namespace osvari
