#include "launcher/cache/cached_files.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "base/error_reporting.h"
#include "launcher/cache/cache_folder.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {

void seal_cached_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which) {
  // A flush waits for the disk; several at once let the system write them out together.
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> first_failure{index.entries.size()};
  std::atomic<std::uint32_t> failure_code{0};
  const auto seal_some = [&] {
    for (std::size_t i = next++; i < index.entries.size(); i = next++) {
      if (which != nullptr && !(*which)[i]) continue;
      const std::wstring path = folder + L"\\" + index.entries[i].name;
      if (set_write_time_and_flush(path.c_str(), cached_file_time)) continue;
      const std::uint32_t code = last_error();
      std::size_t seen = first_failure.load();
      while (i < seen && !first_failure.compare_exchange_weak(seen, i)) {
      }
      if (first_failure.load() == i) failure_code = code;
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t count = std::min<std::size_t>(sealing_threads - 1, index.entries.size() / 16); count > 0; --count) {
    helpers.emplace_back(seal_some);
  }
  seal_some();
  for (std::thread& helper : helpers) helper.join();
  if (first_failure.load() < index.entries.size()) {
    fatal_system_error("Error, couldn't unpack file to target path.", failure_code.load());
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
