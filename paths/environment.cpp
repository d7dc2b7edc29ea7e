#include "paths/environment.h"

#include <cstdlib>
#include <vector>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "platform/processes.h"

namespace osvari {

std::optional<std::wstring> get_environment_value(const wchar_t* name) {
  std::vector<wchar_t> buffer(environment_value_capacity);
  const std::uint32_t length = get_environment_variable(name, buffer.data(), environment_value_capacity);
  if (length == 0 || length >= environment_value_capacity) return std::nullopt;
  return std::wstring(buffer.data(), length);
}

std::wstring widen_variable_name(const char* name) {
  BoundedWideString<40> wide;
  for (const char* byte = name; *byte != '\0'; ++byte) {
    const char single[2] = {*byte, '\0'};
    wchar_t unit[2] = {};
    if (std::mbstowcs(unit, single, 2) != 1) fail_internal_limit("an environment variable name does not widen");
    if (!wide.append(unit[0])) fail_internal_limit("an environment variable name does not fit in 40 code units");
  }
  return std::wstring(wide.view());
}

std::optional<std::wstring> get_environment_value_narrow(const char* name) {
  return get_environment_value(widen_variable_name(name).c_str());
}

}  // namespace osvari
