#include "launcher/cache/cache_repair.h"

#include "launcher/cache/cache_folder.h"
#include "launcher/cache/cached_files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemCacheRepairOperations final : public CacheRepairOperations {
 public:
  std::optional<DirectoryEntry> look(const std::wstring& path) override { return entry_facts(path.c_str()); }
  Removal remove_unless(const std::wstring& path, const std::function<bool(const DirectoryEntry&)>& keep) override {
    switch (delete_file_itself_unless(path.c_str(), keep)) {
      case ConditionalDeletion::deleted:
      case ConditionalDeletion::not_found:
        return Removal::gone;
      case ConditionalDeletion::kept:
        return Removal::kept;
      case ConditionalDeletion::failed:
        break;
    }
    return Removal::stays;
  }
  bool move_without_replacing(const std::wstring& from, const std::wstring& to) override {
    return osvari::move_without_replacing(from.c_str(), to.c_str());
  }
  void pause() override { sleep_milliseconds(rename_pause_milliseconds); }
};

}  // namespace

bool is_right_cached_file(const DirectoryEntry& facts, std::uint64_t size) {
  return (facts.attributes & (attribute_directory | attribute_reparse_point)) == 0 && facts.size == size &&
         facts.last_write_time == cached_file_time;
}

CacheRepairOperations& system_cache_repair_operations() {
  static SystemCacheRepairOperations operations;
  return operations;
}

bool clear_flagged_entries(const std::wstring& folder, const CacheIndex& index, std::vector<bool>& rewrite,
                           CacheRepairOperations& system) {
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    if (!rewrite[i]) continue;
    const std::uint64_t size = index.entries[i].size;
    switch (system.remove_unless(folder + L"\\" + index.entries[i].name,
                                 [size](const DirectoryEntry& facts) { return is_right_cached_file(facts, size); })) {
      case Removal::gone:
        break;
      case Removal::kept:
        rewrite[i] = false;
        break;
      case Removal::stays:
        // A folder at a file's name may hold what the application made: it is not taken away.
        return false;
    }
  }
  return true;
}

Placed place_repaired_file(const std::wstring& from, const std::wstring& to, std::uint64_t size,
                           CacheRepairOperations& system) {
  const auto is_right = [size](const DirectoryEntry& facts) { return is_right_cached_file(facts, size); };
  for (int attempt = 1;; ++attempt) {
    if (system.move_without_replacing(from, to)) return Placed::moved;
    if (const std::optional<DirectoryEntry> there = system.look(to)) {
      if (is_right(*there)) return Placed::right_already;
      // Whatever stays there is not this entry: the repair cannot be finished.
      if (system.remove_unless(to, is_right) == Removal::stays) return Placed::refused;
      // Gone, or right by now: the next rename or look tells.
    } else if (attempt < rename_attempts) {
      system.pause();
    }
    if (attempt == rename_attempts) return Placed::refused;
  }
}

}  // namespace osvari
