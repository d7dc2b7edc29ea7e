// The two variables that tell the hosted program where the launcher lives and how it was named.
#pragma once

#include <cstddef>
#include <string_view>

namespace osvari {

inline constexpr char directory_variable_name[] = "OSVARI_ONEFILE_DIRECTORY";
inline constexpr char original_argv0_variable_name[] = "OSVARI_ORIGINAL_ARGV0";

inline constexpr std::size_t launcher_directory_capacity = 4097;

// The path before its last backslash, without that backslash ("C:\tool.exe" gives "C:");
// a path without a backslash stays whole.
std::wstring_view launcher_directory_of(std::wstring_view executable_path);

// Sets OSVARI_ONEFILE_DIRECTORY to the directory of the executable as the system reports its
// path, and OSVARI_ORIGINAL_ARGV0 to `argv0` exactly (empty when it is null).
void set_child_environment(const wchar_t* argv0);

}  // namespace osvari
