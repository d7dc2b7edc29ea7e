// Reading environment variables into owned strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace osvari {

// The variables through which a parent and its child agree on the unpack directory.
inline constexpr char parent_process_variable[] = "OSVARI_ONEFILE_PARENT";
inline constexpr char start_time_variable[] = "OSVARI_ONEFILE_START";

inline constexpr std::uint32_t environment_value_capacity = 32768;  // the longest value plus its terminator

// The variable's value; none when it is unset, empty or too long for 32,767 code units.
std::optional<std::wstring> get_environment_value(const wchar_t* name);

// The same for an 8-bit name, widened one byte at a time with the runtime's mbstowcs. A byte
// that does not widen to exactly one code unit, or a name of 40 code units or more, ends the
// run at an internal limit.
std::optional<std::wstring> get_environment_value_narrow(const char* name);

// The 8-bit name widened as get_environment_value_narrow does it.
std::wstring widen_variable_name(const char* name);

}  // namespace osvari
