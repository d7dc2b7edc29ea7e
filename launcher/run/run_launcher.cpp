#include "launcher/run/run_launcher.h"

#include "base/error_reporting.h"
#include "base/shared_state.h"
#include "launcher/cache/cached_run.h"
#include "launcher/finish/finished_run_sweep.h"
#include "launcher/finish/fresh_unpack_directory.h"
#include "launcher/finish/shutdown.h"
#include "launcher/run/child_environment.h"
#include "launcher/run/child_launch.h"
#include "launcher/run/parent_handshake.h"
#include "launcher/run/shown_windows.h"
#include "launcher/run/unpack_progress_window.h"
#include "paths/environment.h"
#include "paths/known_directories.h"
#include "paths/runtime_spec.h"
#include "paths/unpack_directory_name.h"
#include "payload/attached_data_reader.h"
#include "payload/main_library.h"
#include "payload/unpack.h"
#include "platform/processes.h"
#include "platform/runtime.h"

namespace osvari {
namespace {

// Parent role: creates the unpack directory, which from then on goes away with the run however
// the run ends, and marks it in use.
void take_fresh_unpack_directory() {
  switch (create_fresh_unpack_directory(unpack_directory(), system_fresh_directory_operations())) {
    case FreshDirectoryResult::created:
      break;
    case FreshDirectoryResult::not_expanded:
      fatal_expand_error(unpack_directory_spec);
    case FreshDirectoryResult::failed:
      fatal_error("Error, couldn't create a fresh unpack directory.");
  }
  adopt_fresh_unpack_directory();
}

}  // namespace

int run_launcher() {
  const int argument_count = runtime_argument_count();
  wchar_t** argument_vector = runtime_argument_vector();
  // A windowed executable started from Explorer shows its failure; all others only write it.
  install_failure_dialog();

  // What the data carries decides whether this process may be a child at all: a packed program
  // is started by the launcher itself, so a program that starts this same file again starts a
  // parent.
  find_attached_data();
  const ApplicationKind kind = read_attached_application_kind();
  // The role comes first: in the parent role it publishes the process id that {PID} reads.
  const Role role = kind == ApplicationKind::program ? take_parent_role() : determine_role();
  // The parent always names its directory after a fresh time stamp: an inherited one would let
  // whoever set it choose the name in advance.
  if (!role.is_child()) set_environment_variable(widen_variable_name(start_time_variable).c_str(), nullptr);
  const bool expanded = expand_runtime_spec(unpack_directory(), unpack_directory_spec);
  if (!expanded) fatal_expand_error(unpack_directory_spec);
  if (kind == ApplicationKind::unknown) fatal_error("Error, the attached data needs a newer launcher.");
  const CacheIndexResult cache = read_attached_cache_index();
  if (cache.status == CacheIndexStatus::malformed) fatal_error("Error, couldn't decode attached data.");
  if (cache.status == CacheIndexStatus::present) {
    return run_cached(role, cache.index, kind, argument_count, argument_vector);
  }
  if (!role.is_child()) take_fresh_unpack_directory();
  install_console_control_handler();
  open_attached_data();

  if (role.is_child()) {
    unpack_files(RoleKind::child);
    // Without a main library the child must not go on: a launch would only start another child.
    if (*main_library_path() == L'\0') fatal_error("Error, attached data holds no main library.");
    return run_main_library(argument_count, argument_vector);
  }

  {
    const ProgressWindowDuringUnpack progress(own_window_options().unpacked_bytes);
    unpack_files(RoleKind::parent);
    // A damaged frame may still have decoded to plausible files: nothing runs before its end,
    // and with it the checksum, has been seen.
    confirm_attached_data_end();
  }
  close_attached_data();
  set_child_environment(argument_count > 0 ? argument_vector[0] : L"");
  // What finished runs left is cleared while the child loads, not before it starts.
  const auto sweep = [] { sweep_beside(std::wstring(unpack_directory().view())); };
  if (kind == ApplicationKind::program) {
    if (*main_library_path() == L'\0') fatal_error("Error, attached data holds no program.");
    return static_cast<int>(launch_program(main_library_path(), sweep));
  }
  return static_cast<int>(launch_child(sweep));
}

}  // namespace osvari
