#include "launcher/run/child_launch.h"

#include <string>
#include <string_view>

#include "base/error_reporting.h"
#include "base/shared_state.h"
#include "launcher/finish/shutdown.h"
#include "launcher/finish/sweep_while_waiting.h"
#include "launcher/run/command_line.h"
#include "payload/missing_import.h"
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

namespace {

// CreateProcessW starts no program from a path of MAX_PATH (260) code units or more, whatever
// the system allows elsewhere, and its error for it (123 under Wine) does not say so.
constexpr std::size_t longest_startable_path = 259;

std::string path_too_long_report(std::wstring_view application) {
  if (application.size() <= longest_startable_path) return {};
  return "Path too long to start a program from: " + std::to_string(application.size()) +
         " characters, Windows takes at most " + std::to_string(longest_startable_path) + " (" +
         narrow_for_message(application) + ")";
}

// Starts `application` with child_command_line() and this process's standard handles, waits for
// it, removes the unpack directory and returns the child's exit code. `once_ended`, when given,
// sees the exit code before the folder goes.
std::uint32_t start_and_wait(const wchar_t* application, const std::function<void()>& while_child_starts,
                             const std::function<void(std::uint32_t exit_code)>& once_ended = {}) {
  // Read now, so whatever this process received (console, files, pipes or nothing) goes on.
  const StandardHandles handles = standard_handles();
  UniqueHandle child = create_process(application, child_command_line().buffer(), handles);
  if (!child.is_valid()) {
    const std::uint32_t code = last_error();
    fatal_system_error("Error, couldn't launch child", code, path_too_long_report(application));
  }

  // The console control handler gets a handle of its own, so that this thread can keep waiting
  // on its handle whatever the handler does with the other one.
  publish_child_process(duplicate_handle(child.get()));
  if (while_child_starts) while_child_starts();
  {
    // What finished runs left goes while the child runs, and stops once the child has ended.
    const SweepWhileWaiting sweeping;
    wait_for_object(child.get(), infinite_wait);
  }
  std::uint32_t exit_code = 1;
  if (!get_process_exit_code(child.get(), exit_code)) exit_code = 1;

  take_child_process().reset();  // closes the handler's copy unless the handler already took it
  child.reset();
  if (once_ended) once_ended(exit_code);
  cleanup_unpack_directory();
  return exit_code;
}

}  // namespace

std::uint32_t launch_child(const std::function<void()>& while_child_starts) {
  build_child_command_line();
  return start_and_wait(own_module_path().c_str(), while_child_starts);
}

std::optional<std::uint32_t> loader_failure_code(std::uint32_t exit_code) {
  switch (exit_code) {
    case 0xC0000135: return 126;   // STATUS_DLL_NOT_FOUND: ERROR_MOD_NOT_FOUND
    case 0xC0000139: return 127;   // STATUS_ENTRYPOINT_NOT_FOUND: ERROR_PROC_NOT_FOUND
    case 0xC0000138: return 182;   // STATUS_ORDINAL_NOT_FOUND: ERROR_INVALID_ORDINAL
    case 0xC000007B: return 193;   // STATUS_INVALID_IMAGE_FORMAT: ERROR_BAD_EXE_FORMAT
    case 0xC0000142: return 1114;  // STATUS_DLL_INIT_FAILED: ERROR_DLL_INIT_FAILED
    default: return std::nullopt;
  }
}

std::uint32_t launch_program(const wchar_t* program_path, const std::function<void()>& while_child_starts) {
  build_program_child_command_line(program_path);
  // From here on a Ctrl-C is the program's to answer, also one that comes while it is created.
  mark_child_runs_program();
  // The program's imports are read while its folder is still there.
  std::string missing_import;
  const std::uint32_t exit_code = start_and_wait(program_path, while_child_starts, [&](std::uint32_t ended_with) {
    if (const std::optional<std::uint32_t> code = loader_failure_code(ended_with)) {
      missing_import = missing_import_report(*code, program_path);
    }
  });
  if (const std::optional<std::uint32_t> code = loader_failure_code(exit_code)) {
    fatal_system_error("Error, couldn't launch child", *code, missing_import);
  }
  return exit_code;
}

}  // namespace osvari
