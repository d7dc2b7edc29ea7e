// The launcher osvari-pack uses when none is given: one found relative to osvari-pack itself,
// so that an installed tree, a moved copy of it and a build folder each use their own.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace osvari::pack {

inline constexpr const char* launcher_file_name = "osvari-launcher.exe";

// The places looked at, in order, for a tool in `tool_directory`: beside it, then in the
// installed tree's share/osvari-onefile/. A tool in a build folder (`in_build_folder`) also
// looks at the Windows build's bin/: its own build folder's, when it is the build-machine tool
// that a Windows build makes, or the one beside its build folder, as the presets lay them out.
std::vector<std::filesystem::path> launcher_candidates(const std::filesystem::path& tool_directory,
                                                       bool in_build_folder);

// The running osvari-pack's own file, or nothing when the system does not say.
std::optional<std::filesystem::path> own_program_path();

// The first candidate that exists as a regular file, for the tool at `tool_path`.
std::optional<std::filesystem::path> find_default_launcher(const std::filesystem::path& tool_path);

}  // namespace osvari::pack
