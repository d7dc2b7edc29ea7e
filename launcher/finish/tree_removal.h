// Removing a directory tree by walking it: any path length, read-only entries included, and
// never through a link.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace osvari {

// A directory (or what stands at its name now) held open by the walk, which lists, changes and
// removes it through this handle only.
class OpenedDirectory {
 public:
  virtual ~OpenedDirectory() = default;
  // As the handle reports them: a link opened as itself shows attribute_reparse_point.
  virtual std::optional<std::uint32_t> attributes() = 0;
  virtual bool list(std::vector<DirectoryEntry>& entries) = 0;
  virtual bool set_attributes(std::uint32_t attributes) = 0;
  // Removed once the handle closes: a directory only when empty, a link as itself.
  virtual bool remove() = 0;
};

// What the walk asks of the file system; paths are in the "\\?\" form.
class FileTreeOperations {
 public:
  virtual ~FileTreeOperations() = default;
  virtual std::optional<std::uint32_t> attributes(const std::wstring& path) = 0;
  // The entry at `root` opened as itself, when the handle reaches the name `root` ends with in
  // the directory its parent reaches; `final_root` gets the path as the system reports the
  // handle's (empty when it cannot tell). Null otherwise.
  virtual std::unique_ptr<OpenedDirectory> open_root(const std::wstring& root, std::wstring& final_root) = 0;
  // The entry at `path` opened as itself, when the handle reaches `path` exactly; null otherwise.
  virtual std::unique_ptr<OpenedDirectory> open_directory(const std::wstring& path) = 0;
  // delete_file_itself (platform/files.h): never the target of a link.
  virtual bool delete_file(const std::wstring& path, bool clear_blocking_attributes) = 0;
  // True when delete_file may run on several threads at once; the walk then deletes a directory's
  // files on several threads before it goes below.
  [[nodiscard]] virtual bool deletes_files_concurrently() const { return false; }
};

FileTreeOperations& system_file_tree_operations();

// Removes `path` with everything below it. Each directory is opened before it is touched and
// then cleared, listed and removed through that handle, or left when the handle reaches another
// name than the walked one. An entry that is a reparse point (symbolic link, junction) when
// listed or when opened is removed as a link and never entered, so its target stays untouched;
// a file is deleted only through a handle that reaches the file itself. The walk names entries
// below the root's final path, as the system reports it for each file. Entries that cannot be
// removed are left and the walk goes on with the others. `out_of_time`, when given, is asked
// between entries, and before each file by every thread that deletes files, and stops the walk
// early. True when `path` is gone.
bool remove_tree(std::wstring path, FileTreeOperations& system, const std::function<bool()>& out_of_time = {});

}  // namespace osvari
