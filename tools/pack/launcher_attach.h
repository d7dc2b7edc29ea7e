// Onefile executables: a copy of the launcher carrying attached data as RCDATA resource 27.
#pragma once

#include <filesystem>
#include <string_view>

namespace osvari::pack {

// Resources can only be written by the Windows build.
#ifdef _WIN32
inline constexpr bool can_attach_to_launcher = true;
#else
inline constexpr bool can_attach_to_launcher = false;
#endif

inline constexpr int attached_data_resource_id = 27;

// Writes `output` as a copy of `launcher` whose RCDATA resource 27 is `attached_data`; the
// output appears only when complete. Throws PackError (bad input) on failure.
void write_launcher_with_attached_data(const std::filesystem::path& launcher, const std::filesystem::path& output,
                                       std::string_view attached_data);

}  // namespace osvari::pack
