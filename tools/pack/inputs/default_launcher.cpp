#include "tools/pack/inputs/default_launcher.h"

#include <cstdlib>
#include <system_error>

namespace osvari::pack {

namespace fs = std::filesystem;

std::vector<fs::path> launcher_candidates(const fs::path& tool_directory, bool in_build_folder) {
  std::vector<fs::path> candidates{tool_directory / launcher_file_name,
                                   tool_directory / ".." / "share" / "osvari-onefile" / launcher_file_name};
  if (in_build_folder) {
    candidates.push_back(tool_directory / ".." / ".." / "bin" / launcher_file_name);
    candidates.push_back(tool_directory / ".." / ".." / "windows" / "bin" / launcher_file_name);
  }
  for (fs::path& candidate : candidates) candidate = candidate.lexically_normal();
  return candidates;
}

std::optional<fs::path> own_program_path() {
  std::error_code error;
#ifdef _WIN32
  // The runtime's full path of the program, set before wmain runs.
  const wchar_t* program = _wpgmptr;
  if (program == nullptr || *program == L'\0') return std::nullopt;
  fs::path path(program);
#else
  fs::path path = fs::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
#endif
  path = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  return path;
}

std::optional<fs::path> find_default_launcher(const fs::path& tool_path) {
  const fs::path directory = tool_path.parent_path();
  std::error_code error;
  // A CMake build folder holds the tool in its bin/.
  const bool in_build_folder = fs::is_regular_file(directory.parent_path() / "CMakeCache.txt", error);
  for (const fs::path& candidate : launcher_candidates(directory, in_build_folder)) {
    if (fs::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

}  // namespace osvari::pack
