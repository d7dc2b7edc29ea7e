#include "launcher/cache/cached_files.h"

#include "base/error_reporting.h"
#include "launcher/cache/cache_folder.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {

void seal_cached_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which) {
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    if (which != nullptr && !(*which)[i]) continue;
    const std::wstring path = folder + L"\\" + index.entries[i].name;
    if (!set_write_time_and_flush(path.c_str(), cached_file_time)) {
      fatal_system_error("Error, couldn't unpack file to target path.", last_error());
    }
  }
}

PlaceResult move_into_place(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 1;; ++attempt) {
    if (move_without_replacing(from.c_str(), to.c_str())) return PlaceResult::moved;
    if (file_attributes(to.c_str())) return PlaceResult::occupied;
    if (attempt == rename_attempts) return PlaceResult::refused;
    sleep_milliseconds(rename_pause_milliseconds);
  }
}

}  // namespace osvari
