// The steps of a repair that another run may be taking on the same cache folder at the same
// moment: what one run found wrong, the other may have put right since. Each step looks at what
// is at the name now and leaves a right entry alone, whoever put it there.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "payload/cache_index.h"
#include "platform/files.h"

namespace osvari {

// A cached entry is right when it is a plain file (no folder, no link) of the indexed size with
// the cached file time, as the start-up check decides.
bool is_right_cached_file(const DirectoryEntry& facts, std::uint64_t size);

enum class Removal { gone, kept, stays };

class CacheRepairOperations {
 public:
  virtual ~CacheRepairOperations() = default;
  // What is at `path` now; no value when nothing is (or it cannot be asked about).
  virtual std::optional<DirectoryEntry> look(const std::wstring& path) = 0;
  // Deletes what is at `path` unless `keep` says otherwise about what the deleting handle shows
  // (see delete_file_itself_unless): `gone` once nothing is there, `kept`, or `stays` when it
  // would not go (a folder, a link, a file held open).
  virtual Removal remove_unless(const std::wstring& path, const std::function<bool(const DirectoryEntry&)>& keep) = 0;
  virtual bool move_without_replacing(const std::wstring& from, const std::wstring& to) = 0;
  virtual void pause() = 0;  // rename_pause_milliseconds
};

CacheRepairOperations& system_cache_repair_operations();

// Before a repair writes anything: removes each entry of `folder` flagged in `rewrite`, and
// unflags those that are right by now (another run repaired them). False when a wrong entry
// stays; the caller ends the run then.
bool clear_flagged_entries(const std::wstring& folder, const CacheIndex& index, std::vector<bool>& rewrite,
                           CacheRepairOperations& system);

enum class Placed { moved, right_already, refused };

// Renames the repaired file `from` to `to` (both in the "\\?\" form) without replacing. When
// the rename is refused: something right at `to` (another run's verified copy) is kept;
// something wrong there is removed and the rename tried again; with nothing there (a scanner may
// hold the fresh file a moment) it is tried again after a pause; rename_attempts tries in all.
Placed place_repaired_file(const std::wstring& from, const std::wstring& to, std::uint64_t size,
                           CacheRepairOperations& system);

}  // namespace osvari
