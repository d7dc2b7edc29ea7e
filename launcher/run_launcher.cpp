#include "launcher/run_launcher.h"

#include "launcher/child_environment.h"
#include "launcher/child_launch.h"
#include "launcher/error_reporting.h"
#include "launcher/role.h"
#include "launcher/shared_state.h"
#include "launcher/shutdown.h"
#include "paths/runtime_spec.h"
#include "payload/attached_data_reader.h"
#include "payload/main_library.h"
#include "payload/unpack.h"
#include "platform/runtime.h"

namespace osvari {
namespace {

constexpr const wchar_t* unpack_directory_spec = L"{TEMP}\\onefile_{PID}_{TIME}";

}  // namespace

int run_launcher() {
  const int argument_count = runtime_argument_count();
  wchar_t** argument_vector = runtime_argument_vector();

  // The role comes first: in the parent role it publishes the process id that {PID} reads.
  const Role role = determine_role();
  const bool expanded = expand_runtime_spec(unpack_directory(), unpack_directory_spec);
  find_attached_data();
  if (!expanded) fatal_expand_error(unpack_directory_spec);
  install_console_control_handler();
  open_attached_data();

  if (role.is_child()) {
    unpack_files(RoleKind::child);
    // Without a main library the child must not go on: a launch would only start another child.
    if (*main_library_path() == L'\0') fatal_error("Error, attached data holds no main library.");
    return run_main_library(argument_count, argument_vector);
  }

  unpack_files(RoleKind::parent);
  // A damaged frame may still have decoded to plausible files: nothing runs before its end,
  // and with it the checksum, has been seen.
  confirm_attached_data_end();
  close_attached_data();
  set_child_environment(argument_count > 0 ? argument_vector[0] : L"");
  return static_cast<int>(launch_child());
}

}  // namespace osvari
