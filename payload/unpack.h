// Turning the file entries of the attached data into files below the unpack directory.
#pragma once

#include <string_view>
#include <vector>

#include "base/role.h"
#include "payload/cache_index.h"

namespace osvari {

// Unpacking against a cache index: every entry must be the index's entry at the same place
// (name and size), and only those marked in `rewrite` (all, when null) are written.
struct UnpackPlan {
  const std::vector<CacheIndexEntry>& expected;
  const std::vector<bool>* rewrite = nullptr;
};

// Parent: writes every entry, up to the terminator. Child: reads only the first name and
// records the main library path. Ends the process on any failure, and with "Error, couldn't
// decode attached data." when the entries differ from the plan's index.
void unpack_files(RoleKind role, const UnpackPlan* plan = nullptr);

// The first entry's target path; empty when the attached data held no entry.
const wchar_t* main_library_path();

// Records the main library path as `directory` joined with `name`, without reading anything.
void set_main_library_path(std::wstring_view directory, std::wstring_view name);

// Closes the file being written, if any, so that nothing of this process holds the unpack
// directory; for the exit after a failure on the main thread.
void close_target_file();

}  // namespace osvari
