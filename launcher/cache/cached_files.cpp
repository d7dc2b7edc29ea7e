#include "launcher/cache/cached_files.h"

#include <algorithm>
#include <atomic>
#include <system_error>

#include "base/error_reporting.h"
#include "launcher/cache/cache_folder.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemSealOperations final : public SealOperations {
 public:
  bool seal(const std::wstring& path, std::uint32_t& error) override {
    if (set_write_time_and_flush(path.c_str(), cached_file_time)) return true;
    error = last_error();
    return false;
  }
};

}  // namespace

SealOperations& system_seal_operations() {
  static SystemSealOperations operations;
  return operations;
}

SealResult seal_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which,
                      SealOperations& system) {
  // A flush waits for the disk; several at once let the system write them out together.
  const std::size_t helper_count = std::min<std::size_t>(sealing_threads - 1, index.entries.size() / 16);
  std::atomic<std::size_t> next{0};
  // One slot per thread, written only by its thread: entries are taken in increasing order, so
  // a thread's first failure is its earliest.
  std::vector<std::optional<SealFailure>> failures(helper_count + 1);
  const auto seal_some = [&](std::optional<SealFailure>& failure) {
    for (std::size_t i = next++; i < index.entries.size(); i = next++) {
      if (which != nullptr && !(*which)[i]) continue;
      std::uint32_t code = 0;
      if (!system.seal(folder + L"\\" + index.entries[i].name, code) && !failure) failure = SealFailure{i, code};
    }
  };
  SealResult result;
  std::vector<std::thread> helpers;
  for (std::size_t helper = 0; helper < helper_count; ++helper) {
    try {
      helpers.push_back(system.start_thread([&seal_some, &failures, helper] { seal_some(failures[helper + 1]); }));
    } catch (const std::system_error&) {
      result.threads_started = false;
      next = index.entries.size();  // those started stop after their file at hand
      break;
    }
  }
  if (result.threads_started) seal_some(failures[0]);
  for (std::thread& helper : helpers) helper.join();
  for (const std::optional<SealFailure>& failure : failures) {
    if (failure && (!result.failure || failure->entry < result.failure->entry)) result.failure = failure;
  }
  return result;
}

void seal_cached_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which,
                       SealOperations& system) {
  const SealResult result = seal_files(folder, index, which, system);
  if (!result.threads_started) fatal_error("Error, couldn't allocate memory.");
  if (result.failure) fatal_system_error("Error, couldn't unpack file to target path.", result.failure->code);
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
