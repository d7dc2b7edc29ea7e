#include "tools/pack/inputs/pack_inputs.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

#include "tools/pack/inputs/entry_name_collisions.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/read_failure.h"

namespace osvari::pack {
namespace {

namespace fs = std::filesystem;

PackEntry make_entry(const std::vector<fs::path>& components, const fs::path& source) {
  PackEntry entry{make_entry_name(components, source), source, 0};
  std::error_code error;
  entry.size = fs::file_size(source, error);
  if (error) fail_cannot_read(source, error);
  // Opening now reports an unreadable file before any compression work.
  errno = 0;
  if (!std::ifstream(source, std::ios::binary)) {
    fail_cannot_read(source, errno != 0 ? std::error_code(errno, std::generic_category())
                                       : std::make_error_code(std::errc::io_error));
  }
  return entry;
}

void add_directory(const fs::path& directory, std::vector<fs::path>& components, std::vector<PackEntry>& entries) {
  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) fail_cannot_read(directory, error);
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const fs::directory_entry& item = *it;
    std::error_code ignored;  // an entry that cannot be asked about is neither kind, and is left out
    components.push_back(item.path().filename());
    if (item.is_directory(ignored) && !item.is_symlink(ignored)) {
      add_directory(item.path(), components, entries);
    } else if (item.is_regular_file(ignored)) {
      entries.push_back(make_entry(components, item.path()));
    }
    components.pop_back();
  }
  if (error) fail_cannot_read(directory, error);
}

// Windows compares names without regard to letter case: two entries whose names differ only
// in case would land in one file, and a file named like a folder of another entry would keep
// that entry from being written.
void check_names_are_distinct_on_windows(const std::vector<PackEntry>& entries) {
  EntryNameCollisions collisions;
  for (const PackEntry& entry : entries) {
    const std::optional<NameCollision> collision = collisions.add(entry.name);
    if (!collision) continue;
    const PackEntry& earlier = entries[collision->earlier];
    const PackEntry& file = collision->earlier_is_the_file ? earlier : entry;
    const PackEntry& folder = collision->earlier_is_the_file ? entry : earlier;
    const std::string sources = ": " + display_path(earlier.source) + " and " + display_path(entry.source);
    switch (collision->kind) {
      case NameCollisionKind::same_name:
        fail_bad_input("two inputs give the entry name \"" + utf16_to_utf8(entry.name) + "\"" + sources);
      case NameCollisionKind::letter_case:
        fail_bad_input("entry names differ only in letter case, \"" + utf16_to_utf8(earlier.name) + "\" and \"" +
                       utf16_to_utf8(entry.name) + "\"" + sources);
      case NameCollisionKind::file_is_folder:
        fail_bad_input("entry name \"" + utf16_to_utf8(file.name) + "\" is also a folder of \"" +
                       utf16_to_utf8(folder.name) + "\": " + display_path(file.source) + " and " +
                       display_path(folder.source));
    }
  }
}

}  // namespace

std::vector<PackEntry> collect_pack_entries(const fs::path& main_library, const std::vector<fs::path>& inputs,
                                            bool application_is_library) {
  std::vector<PackEntry> entries;
  std::error_code error;

  const fs::file_status main_status = fs::status(main_library, error);
  if (!fs::exists(main_status)) fail_bad_input("no such file: " + display_path(main_library));
  if (!fs::is_regular_file(main_status)) {
    fail_bad_input(std::string(application_is_library ? "the main library" : "the program") +
                   " is not a regular file: " + display_path(main_library));
  }
  entries.push_back(make_entry({main_library.filename()}, main_library));
  // The launcher loads a library by this name; without ".dll" the system would append one. A
  // program is started by its full name, whatever it ends in.
  if (application_is_library && !ends_in_dll(entries.front().name)) {
    fail_bad_input("the main library's name does not end in \".dll\": " + display_path(main_library));
  }

  for (const fs::path& input : inputs) {
    const fs::file_status status = fs::status(input, error);
    if (!fs::exists(status)) fail_bad_input("no such file or directory: " + display_path(input));
    if (fs::is_directory(status)) {
      std::vector<fs::path> components;
      add_directory(input, components, entries);
    } else if (fs::is_regular_file(status)) {
      entries.push_back(make_entry({input.filename()}, input));
    } else {
      fail_bad_input("not a regular file or directory: " + display_path(input));
    }
  }

  const auto by_name = [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; };
  std::sort(entries.begin() + 1, entries.end(), by_name);
  check_names_are_distinct_on_windows(entries);
  return entries;
}

}  // namespace osvari::pack
