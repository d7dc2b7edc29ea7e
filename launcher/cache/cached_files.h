// Putting verified files in the cache so that a crash at any moment leaves each entry either
// right or missing: the files reach the disk with the cached time before any is renamed into
// place, and a rename refused while nothing is at the name is tried again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/cache_index.h"

namespace osvari {

inline constexpr std::size_t sealing_threads = 8;
inline constexpr int rename_attempts = 20;
inline constexpr std::uint32_t rename_pause_milliseconds = 50;

// Gives each entry of the index below `folder` (those marked in `which`, all when null) the
// cached file time and waits until it is on the disk, up to sealing_threads files at once; a
// failure ends the run with "Error, couldn't unpack file to target path." and the system's code
// for the first entry that failed.
void seal_cached_files(const std::wstring& folder, const CacheIndex& index, const std::vector<bool>* which = nullptr);

enum class PlaceResult { moved, occupied, refused };

// Renames `from` to `to` (both in the "\\?\" form) without replacing anything. While the
// system refuses and nothing is at `to` (a scanner may hold a fresh file for a moment), tries
// again, rename_attempts times in all, rename_pause_milliseconds apart.
PlaceResult move_into_place(const std::wstring& from, const std::wstring& to);

}  // namespace osvari
