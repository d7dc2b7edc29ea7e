#include "launcher/run/parent_handshake.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "paths/environment.h"
#include "paths/executable_path.h"
#include "platform/processes.h"

namespace osvari {
namespace {

void publish_own_process_id(const std::wstring& parent_name) {
  char text[128];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(current_process_id()));
  wchar_t wide[128];
  if (std::mbstowcs(wide, text, 128) == static_cast<std::size_t>(-1)) {
    fail_internal_limit("the process id does not widen");
  }
  set_environment_variable(parent_name.c_str(), wide);
}

}  // namespace

bool check_parent_process(const wchar_t* text) {
  errno = 0;
  wchar_t* end = nullptr;
  const unsigned long process_id = std::wcstoul(text, &end, 10);
  if (errno != 0 || end == nullptr || *end != L'\0') return false;

  const UniqueHandle process = open_process_for_query(static_cast<std::uint32_t>(process_id));
  if (!process.is_valid()) return false;

  BoundedWideString<parent_path_capacity> parent_path;
  if (process_image_path(process.get(), parent_path.buffer(), static_cast<std::uint32_t>(parent_path_capacity)) == 0) {
    return false;
  }
  if (!parent_path.adopt_written_text()) {
    fail_internal_limit("the parent's executable path does not end within " + std::to_string(parent_path_capacity) +
                        " code units");
  }
  resolve_final_path(parent_path);
  return std::wcscmp(parent_path.c_str(), get_executable_path(true)) == 0;
}

Role determine_role() {
  const std::wstring parent_name = widen_variable_name(parent_process_variable);
  if (const std::optional<std::wstring> inherited = get_environment_value(parent_name.c_str())) {
    if (check_parent_process(inherited->c_str())) return {RoleKind::child, *inherited};
    set_environment_variable(parent_name.c_str(), nullptr);
    set_environment_variable(widen_variable_name(start_time_variable).c_str(), nullptr);
  }
  publish_own_process_id(parent_name);
  return {RoleKind::parent, {}};
}

Role take_parent_role() {
  publish_own_process_id(widen_variable_name(parent_process_variable));
  return {RoleKind::parent, {}};
}

}  // namespace osvari
