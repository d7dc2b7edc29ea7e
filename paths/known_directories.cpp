#include "paths/known_directories.h"

#include <cwchar>
#include <memory>

#include "base/error_reporting.h"
#include "paths/runtime_spec.h"

namespace osvari {
namespace {

constexpr const wchar_t* profile_directory_spec = L"{HOME}";

bool is_bare_drive(const wchar_t* path) { return path[0] != L'\0' && path[1] == L':' && path[2] == L'\0'; }

class SystemDirectoryOperations final : public DirectoryOperations {
 public:
  CreateDirectoryResult create_directory(const wchar_t* path) override { return osvari::create_directory(path); }
  bool is_link(const wchar_t* path) override {
    const std::optional<std::uint32_t> attributes = file_attributes(path);
    return attributes && (*attributes & attribute_reparse_point) != 0;
  }
  bool expand_profile_directory(ProfileDirectory& output) override {
    return expand_runtime_spec(output, profile_directory_spec);
  }
};

}  // namespace

DirectoryOperations& system_directory_operations() {
  static SystemDirectoryOperations operations;
  return operations;
}

KnownDirectoryList& known_directories() {
  static KnownDirectoryList list(system_directory_operations());
  return list;
}

void KnownDirectoryList::remember(const wchar_t* path) {
  if (entries_.size() < known_directory_limit) entries_.emplace_back(path);
}

void KnownDirectoryList::prepare() {
  if (!entries_.empty()) return;
  // Paths below the profile directory stop their climb there instead of probing above it.
  ProfileDirectory profile;
  if (!operations_.expand_profile_directory(profile)) fatal_expand_error(profile_directory_spec);
  entries_.reserve(known_directory_limit);
  entries_.emplace_back(profile.view());
}

bool KnownDirectoryList::ensure_directory(const wchar_t* path) {
  prepare();
  for (const std::wstring& entry : entries_) {
    if (std::wcscmp(entry.c_str(), path) == 0) return true;
  }
  if (is_bare_drive(path)) return true;
  switch (operations_.create_directory(path)) {
    case CreateDirectoryResult::failed:
      return false;
    case CreateDirectoryResult::already_exists:
      // Files unpacked below a link planted here would land wherever it points.
      if (operations_.is_link(path)) return false;
      break;
    case CreateDirectoryResult::created:
      break;
  }
  remember(path);
  return true;
}

void KnownDirectoryList::create_parent_directories(const wchar_t* path) {
  if (path == nullptr) fail_internal_limit("no directory path was given to create the parents of");
  // On the heap: the climb may be as deep as the path has backslashes.
  const auto parent = std::make_unique<BoundedWideString<directory_path_capacity>>();
  if (!parent->assign(path)) fail_internal_limit("a directory path does not fit in 4096 code units");
  std::size_t separator = parent->size();
  while (separator > 1 && (*parent)[separator - 1] != L'\\') --separator;
  if (separator <= 1) return;  // no backslash after the first code unit
  parent->truncate(separator - 1);
  ensure_directory_with_ancestors(parent->c_str());
}

void KnownDirectoryList::ensure_directory_with_ancestors(const wchar_t* path) {
  if (ensure_directory(path)) return;
  create_parent_directories(path);
  (void)ensure_directory(path);
}

}  // namespace osvari
