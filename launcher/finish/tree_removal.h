// Removing a directory tree by walking it: any path length, read-only entries included, and
// never through a link.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace osvari {

// What the walk asks of the file system; paths are in the "\\?\" form.
class FileTreeOperations {
 public:
  virtual ~FileTreeOperations() = default;
  virtual std::optional<std::uint32_t> attributes(const std::wstring& path) = 0;
  // The path as the system reports the directory's final path; empty when it cannot tell.
  virtual std::wstring final_path(const std::wstring& path) = 0;
  virtual bool list_directory(const std::wstring& path, std::vector<DirectoryEntry>& entries) = 0;
  virtual bool set_attributes(const std::wstring& path, std::uint32_t attributes) = 0;
  // delete_file_itself (platform/files.h): never the target of a link.
  virtual bool delete_file(const std::wstring& path, bool clear_blocking_attributes) = 0;
  virtual bool remove_directory(const std::wstring& path) = 0;
};

FileTreeOperations& system_file_tree_operations();

// Removes `path` with everything below it. An entry marked as a reparse point (symbolic link,
// junction) is removed as a link and never entered, so its target stays untouched; a file is
// deleted only through a handle that reaches the file itself. The walk names entries below
// the directory's final path, as the system reports it for each file. Entries
// that cannot be removed are left and the walk goes on with the others. `out_of_time`, when
// given, is asked between entries and stops the walk early. True when `path` is gone.
bool remove_tree(std::wstring path, FileTreeOperations& system, const std::function<bool()>& out_of_time = {});

}  // namespace osvari
