// Putting verified files in the cache so that a crash at any moment leaves each entry either
// right or missing: the files reach the disk with the cached time before any is renamed into
// place, and a rename refused while nothing is at the name is tried again.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "payload/cache_index.h"

namespace osvari {

inline constexpr std::size_t sealing_threads = 8;
inline constexpr int rename_attempts = 20;
inline constexpr std::uint32_t rename_pause_milliseconds = 50;

// What sealing asks of the system; tests fake failures and thread starts.
class SealOperations {
 public:
  virtual ~SealOperations() = default;
  // set_write_time_and_flush with the cached file time; false with the system's code otherwise.
  virtual bool seal(const std::wstring& path, std::uint32_t& error) = 0;
  // Runs `work` on a new thread; throws std::system_error when none can be started.
  virtual std::thread start_thread(std::function<void()> work) { return std::thread(std::move(work)); }
};

SealOperations& system_seal_operations();

struct SealFailure {
  std::size_t entry = 0;
  std::uint32_t code = 0;
};

struct SealResult {
  bool threads_started = true;          // false: a helper thread could not be started
  std::optional<SealFailure> failure;   // the failure at the earliest entry
};

// Gives each entry of the index below `folder` (those marked in `which`, all when null) the
// cached file time and waits until it is on the disk, up to sealing_threads files at once. Each
// thread keeps the first failure it meets, which is its earliest entry; the earliest of those
// is the result, whatever order the threads failed in. When a helper thread cannot be started,
// those started stop after their file at hand.
SealResult seal_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which,
                      SealOperations& system);

// seal_files, ending the run on failure: "Error, couldn't allocate memory." when a thread
// could not be started, else "Error, couldn't unpack file to target path." with the system's
// code for the earliest entry that failed.
void seal_cached_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which = nullptr,
                       SealOperations& system = system_seal_operations());

enum class PlaceResult { moved, occupied, refused };

// Renames `from` to `to` (both in the "\\?\" form) without replacing anything. While the
// system refuses and nothing is at `to` (a scanner may hold a fresh file for a moment), tries
// again, rename_attempts times in all, rename_pause_milliseconds apart.
PlaceResult move_into_place(const std::wstring& from, const std::wstring& to);

}  // namespace osvari
