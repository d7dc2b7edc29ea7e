#include "paths/executable_path.h"

#include <memory>
#include <new>

#include "platform/files.h"

namespace osvari {

const PathSystem& system_path_calls() {
  static const PathSystem calls{open_for_query, final_path_by_handle, short_path_name};
  return calls;
}

const wchar_t* get_executable_path(bool resolved) {
  static BoundedWideString<executable_path_capacity> resolved_path;
  static BoundedWideString<executable_path_capacity> reported_path;
  auto& path = resolved ? resolved_path : reported_path;
  if (!path.empty()) return path.c_str();

  // A result of the full capacity means the system cut the path to fit.
  const std::uint32_t length = own_module_file_name(path.buffer(), static_cast<std::uint32_t>(executable_path_capacity));
  if (length >= executable_path_capacity || !path.adopt_written_text()) {
    fail_internal_limit("the executable path does not end within " + std::to_string(executable_path_capacity) +
                        " code units");
  }
  if (resolved) resolve_final_path(path);
  return path.c_str();
}

std::optional<std::wstring> short_form_of(const std::wstring& part, const PathSystem& system) {
  const std::uint32_t needed = system.short_path_name(part.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;

  // Zeroed and one unit longer than asked for: whatever the second call writes, the text ends
  // within the buffer and nothing unwritten is read.
  const std::unique_ptr<wchar_t[]> short_text(new (std::nothrow) wchar_t[std::size_t{needed} + 1]());
  if (!short_text) fail_internal_limit("no memory for the short form of a path");
  const std::uint32_t length = system.short_path_name(part.c_str(), short_text.get(), needed);
  if (length > needed) fail_internal_limit("the short form of a path needs more room than first reported");
  if (length == 0) return std::nullopt;
  return std::wstring(short_text.get());
}

}  // namespace osvari
