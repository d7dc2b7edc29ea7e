// Making directories exist with few system calls, remembering the ones known to exist.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/bounded_wide_string.h"
#include "platform/files.h"

namespace osvari {

inline constexpr std::size_t known_directory_limit = 1024;
inline constexpr std::size_t directory_path_capacity = 4096;
using ProfileDirectory = BoundedWideString<directory_path_capacity>;

// What the list asks of the system.
class DirectoryOperations {
 public:
  virtual ~DirectoryOperations() = default;
  virtual CreateDirectoryResult create_directory(const wchar_t* path) = 0;  // CreateDirectoryW
  // True when the path is a link (reparse point), which nothing is ever written through.
  virtual bool is_link(const wchar_t* path) = 0;
  // The expansion of "{HOME}"; false when it cannot be expanded.
  virtual bool expand_profile_directory(ProfileDirectory& output) = 0;
};

DirectoryOperations& system_directory_operations();

class KnownDirectoryList {
 public:
  explicit KnownDirectoryList(DirectoryOperations& operations) : operations_(operations) {}
  KnownDirectoryList(const KnownDirectoryList&) = delete;
  KnownDirectoryList& operator=(const KnownDirectoryList&) = delete;

  // True when the directory exists as far as the list can tell: listed (exact, case-sensitive
  // match), a bare drive such as "C:", created, or already there and not a link. False when
  // creating it failed for any other reason, typically a missing parent, or when a link stands
  // at the path. The first call puts the profile
  // directory at the head of the list, or ends the run through fatal_expand_error.
  bool ensure_directory(const wchar_t* path);

  // Makes every missing ancestor of `path` exist, nearest the root first; not `path` itself.
  // A null path or one of 4096 code units or more ends the run at an internal limit.
  void create_parent_directories(const wchar_t* path);

  // Puts the profile directory at the head of the list if it is not there yet, as the first
  // ensure_directory does; for a caller that must not be ended later by that first call.
  void prepare();

  // ensure_directory, and when that fails the ancestors and a second attempt.
  void ensure_directory_with_ancestors(const wchar_t* path);

  [[nodiscard]] const std::vector<std::wstring>& entries() const { return entries_; }

  // Forgets every directory, as a new process starts: for a caller that unpacks again after
  // removing what it unpacked.
  void forget() { entries_.clear(); }

 private:
  void remember(const wchar_t* path);

  DirectoryOperations& operations_;
  std::vector<std::wstring> entries_;
};

// The process-wide list over the real file system.
KnownDirectoryList& known_directories();

inline bool ensure_directory(const wchar_t* path) { return known_directories().ensure_directory(path); }
inline void create_parent_directories(const wchar_t* path) { known_directories().create_parent_directories(path); }
inline void ensure_directory_with_ancestors(const wchar_t* path) {
  known_directories().ensure_directory_with_ancestors(path);
}

}  // namespace osvari
