// The entries osvari-pack writes: the application (a program or the main library) first, then every other input in sorted order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace osvari::pack {

struct PackEntry {
  std::u16string name;  // UTF-16, backslash separators
  std::filesystem::path source;
  std::uint64_t size = 0;
};

// The application (named by its file name), each further file (by its file name) and every
// regular file below each directory (by its path relative to that directory). Entries after
// the first are sorted by the code units of their names. Symbolic links to files count as
// files; links to directories are not followed. Throws PackError (bad input) for a missing or
// unreadable input, a main library whose name does not end in ".dll" (`application_is_library`), a name that cannot be an entry name, two inputs whose names Windows takes
// for one (they differ at most in letter case), or a file named like a folder of another entry.
std::vector<PackEntry> collect_pack_entries(const std::filesystem::path& application,
                                            const std::vector<std::filesystem::path>& inputs,
                                            bool application_is_library = true);

}  // namespace osvari::pack
