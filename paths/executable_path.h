// The launcher's own executable path, and the canonical shape in which two executable paths
// are compared: final path, "\\?\" forms undone, directory part in its short form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/bounded_wide_string.h"
#include "base/error_reporting.h"
#include "paths/final_path_prefix.h"
#include "platform/unique_handle.h"

namespace osvari {

inline constexpr std::size_t executable_path_capacity = 4097;

// The file system calls that path resolution makes; tests substitute their own.
struct PathSystem {
  UniqueFileHandle (*open_for_query)(const wchar_t* path);
  std::optional<std::uint32_t> (*final_path_by_handle)(RawHandle file, wchar_t* buffer, std::uint32_t capacity);
  std::uint32_t (*short_path_name)(const wchar_t* path, wchar_t* buffer, std::uint32_t capacity);
};

const PathSystem& system_path_calls();

// The path of the running executable: resolved (as resolve_final_path leaves it) or as
// reported by the system. Each form is computed on its first request and then kept for the
// life of the process; the pointer stays valid until the process ends.
const wchar_t* get_executable_path(bool resolved);

// The short form of `part`, asked for in two calls (size, then text). None when the system has
// no short form for it: the first call returned 0, or the second one failed after the first
// succeeded. Ends the run at an internal limit when the short form grew between the calls or
// its memory cannot be had.
std::optional<std::wstring> short_form_of(const std::wstring& part, const PathSystem& system);

// Rewrites `path` in place: the part before its last backslash (the whole path when there is
// none) becomes its short form, the last component stays as it is. Without a short form the
// path stays unchanged. A result that does not fit ends the run at an internal limit.
template <std::size_t Capacity>
void shorten_path(BoundedWideString<Capacity>& path, const PathSystem& system = system_path_calls()) {
  const std::wstring text(path.view());
  const std::size_t backslash = text.rfind(L'\\');
  const bool has_last_component = backslash != std::wstring::npos;
  const std::wstring part = has_last_component ? text.substr(0, backslash) : text;

  const std::optional<std::wstring> short_part = short_form_of(part, system);
  if (!short_part) return;
  const bool fits = path.assign(*short_part) &&
                    (!has_last_component || (path.append(L'\\') && path.append(text.substr(backslash + 1))));
  if (!fits) fail_internal_limit("a shortened path does not fit in " + std::to_string(Capacity) + " code units");
}

// Rewrites the path of an existing file in place into the shape in which executable paths are
// compared: its final path (when the system can tell it), without the "\\?\" forms, and
// shortened by shorten_path. A file that cannot be opened, or a final path that does not fit,
// ends the run at an internal limit.
template <std::size_t Capacity>
void resolve_final_path(BoundedWideString<Capacity>& path, const PathSystem& system = system_path_calls()) {
  {
    const UniqueFileHandle file = system.open_for_query(path.c_str());
    if (!file.is_valid()) fail_internal_limit("an executable file cannot be opened to find its final path");
    // Written aside, so that a failed call leaves the path as it was.
    BoundedWideString<Capacity> final_path;
    const std::optional<std::uint32_t> length =
        system.final_path_by_handle(file.get(), final_path.buffer(), static_cast<std::uint32_t>(Capacity));
    if (length && *length >= Capacity) {
      fail_internal_limit("a final path does not fit in " + std::to_string(Capacity) + " code units");
    }
    if (length && *length != 0) {
      if (!final_path.adopt_written_text()) {
        fail_internal_limit("a final path does not end within " + std::to_string(Capacity) + " code units");
      }
      path = final_path;
    }
  }
  // Never longer than before, so it always fits.
  (void)path.assign(undo_final_path_prefix(path.view()));
  shorten_path(path, system);
}

}  // namespace osvari
