// Copies of the built launcher with attached data of a test's choosing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace osvari::testing {

// The folder that holds the test programs and the built launcher.
std::wstring build_output_directory();

// The plain launcher the build made, without attached data.
std::wstring built_launcher_path();

// Copies the plain launcher to `target` and, unless `attached_data` is empty, attaches
// those bytes as RCDATA resource 27. Fails the current test on any error.
void make_launcher_copy(const std::wstring& target, std::optional<std::string_view> attached_data);

}  // namespace osvari::testing
