#include "tools/pack/inputs/depfile.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

// Absolute, so the build tool finds them whatever folder it runs the command from.
std::string depfile_path(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  if (error) absolute = path;
#ifdef _WIN32
  const std::u8string text = absolute.lexically_normal().generic_u8string();
  std::string raw(text.begin(), text.end());
#else
  std::string raw = absolute.lexically_normal().native();
#endif
  if (raw.size() > 1 && raw.back() == '/') raw.pop_back();
  std::string escaped;
  for (char c : raw) {
    if (c == ' ' || c == '#') escaped.push_back('\\');
    if (c == '$') escaped.push_back('$');
    escaped.push_back(c);
  }
  return escaped;
}

void add_folders(const fs::path& folder, std::vector<fs::path>& found) {
  found.push_back(folder);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) add_folders(it->path(), found);
  }
}

}  // namespace

std::vector<fs::path> packing_dependencies(const fs::path& main_library, const std::vector<fs::path>& inputs,
                                           const std::vector<PackEntry>& entries) {
  std::vector<fs::path> found{main_library};
  for (const fs::path& input : inputs) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
      add_folders(input, found);
    } else {
      found.push_back(input);
    }
  }
  for (const PackEntry& entry : entries) found.push_back(entry.source);
  return found;
}

std::string depfile_text(const fs::path& target, const std::vector<fs::path>& dependencies) {
  std::vector<std::string> lines;
  for (const fs::path& dependency : dependencies) lines.push_back(depfile_path(dependency));
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string text = depfile_path(target) + ":";
  for (const std::string& line : lines) text += " \\\n  " + line;
  text += "\n";
  return text;
}

void write_depfile(const fs::path& depfile, const fs::path& target, const std::vector<fs::path>& dependencies) {
  const std::string text = depfile_text(target, dependencies);
  std::ofstream file(depfile, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) fail_bad_input("cannot write the depfile " + display_path(depfile));
}

}  // namespace osvari::pack
