#include "launcher/run/child_environment.h"

#include <string>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "paths/environment.h"
#include "paths/executable_path.h"
#include "platform/processes.h"

namespace osvari {

std::wstring_view launcher_directory_of(std::wstring_view executable_path) {
  const std::size_t backslash = executable_path.rfind(L'\\');
  return backslash == std::wstring_view::npos ? executable_path : executable_path.substr(0, backslash);
}

void set_child_environment(const wchar_t* argv0) {
  // Process-wide: the value stays readable for as long as the process lives.
  static BoundedWideString<launcher_directory_capacity> launcher_directory;
  if (!launcher_directory.assign(launcher_directory_of(get_executable_path(false)))) {
    fail_internal_limit("the launcher directory does not fit in " + std::to_string(launcher_directory_capacity) +
                        " code units");
  }
  set_environment_variable(widen_variable_name(directory_variable_name).c_str(), launcher_directory.c_str());
  set_environment_variable(widen_variable_name(original_argv0_variable_name).c_str(), argv0 != nullptr ? argv0 : L"");
}

}  // namespace osvari
