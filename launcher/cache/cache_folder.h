// The extraction cache's folders: their names, the start-up check of a filled folder against
// the cache index, and which old folders of the same executable have gone unused.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/cache_index.h"
#include "platform/files.h"

namespace osvari {

inline constexpr std::wstring_view cache_root_name = L"osvari-onefile";
// The last-write time that every cached file gets from the fill or the repair that wrote it
// (2000-01-01 00:00 UTC, in 100 ns intervals since 1601): a file changed in place shows another,
// even at the same size, and the start-up check sees it in the listing it makes anyway.
inline constexpr std::uint64_t cached_file_time = 125'911'584'000'000'000ull;
// 30 days in 100 ns intervals.
inline constexpr std::uint64_t unused_cache_age = 30ull * 24 * 60 * 60 * 10'000'000;

// The executable's file name without its folder and without a final ".exe" (any case).
std::wstring executable_base_name(std::wstring_view module_path);

// "<base>-<id>".
std::wstring cache_folder_name(std::wstring_view base, std::wstring_view id);

// True for "<base>-" and 16 lower-case hex digits, the base in any letter case.
bool is_cache_folder_name_of(std::wstring_view name, std::wstring_view base);

// A cache folder of this executable other than `own_name`, not used (written or touched) for
// 30 days at `now`. Links are never counted: they are not ours.
bool is_unused_cache(const DirectoryEntry& entry, std::wstring_view base, std::wstring_view own_name,
                     std::uint64_t now);

// The in-use mark of the cache folder `name` (see in_use_mark_name), the same whatever the
// letter case the executable was started with.
std::wstring cache_in_use_mark_name(std::wstring_view name);

// Lists one folder (as list_directory does); false when it cannot be listed.
using FolderLister = std::function<bool(const std::wstring& folder, std::vector<DirectoryEntry>& entries)>;

struct CacheCheck {
  bool refused = false;        // an entry of the index, or a folder on its way, is a link
  std::vector<bool> rewrite;   // per index entry: missing, not a file, or of another size or time
  [[nodiscard]] bool complete() const;
};

// Checks `folder` against the index with one listing per folder that holds entries, each
// indexed once: the time grows with the number of entries, not with its square.
CacheCheck check_cache_folder(const std::wstring& folder, const CacheIndex& index, const FolderLister& list);

}  // namespace osvari
