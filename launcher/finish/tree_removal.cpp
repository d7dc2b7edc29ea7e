#include "launcher/finish/tree_removal.h"

#include <optional>
#include <utility>

#include "launcher/finish/parallel_file_deletion.h"

namespace osvari {
namespace {

constexpr std::uint32_t attributes_that_block_removal = attribute_read_only | attribute_hidden | attribute_system;

class SystemOpenedDirectory final : public OpenedDirectory {
 public:
  explicit SystemOpenedDirectory(UniqueFileHandle handle) : handle_(std::move(handle)) {}
  std::optional<std::uint32_t> attributes() override { return handle_attributes(handle_.get()); }
  bool list(std::vector<DirectoryEntry>& entries) override { return list_directory_by_handle(handle_.get(), entries); }
  bool set_attributes(std::uint32_t attributes) override { return set_handle_attributes(handle_.get(), attributes); }
  bool remove() override { return mark_for_deletion(handle_.get()); }

 private:
  UniqueFileHandle handle_;
};

class SystemFileTreeOperations final : public FileTreeOperations {
 public:
  std::optional<std::uint32_t> attributes(const std::wstring& path) override { return file_attributes(path.c_str()); }
  std::unique_ptr<OpenedDirectory> open_root(const std::wstring& root, std::wstring& final_root) override {
    UniqueFileHandle handle = open_directory_itself(root.c_str());
    if (!handle.is_valid() || !handle_reaches_inside_parent(handle.get(), root.c_str())) return nullptr;
    final_root = final_path_of_handle(handle.get());
    return std::make_unique<SystemOpenedDirectory>(std::move(handle));
  }
  std::unique_ptr<OpenedDirectory> open_directory(const std::wstring& path) override {
    UniqueFileHandle handle = open_directory_itself(path.c_str());
    if (!handle.is_valid() || !handle_reaches(handle.get(), path.c_str())) return nullptr;
    return std::make_unique<SystemOpenedDirectory>(std::move(handle));
  }
  bool delete_file(const std::wstring& path, bool clear_blocking_attributes) override {
    return delete_file_itself(path.c_str(), clear_blocking_attributes);
  }
  [[nodiscard]] bool deletes_files_concurrently() const override { return true; }
};

bool has_blocking_attributes(std::uint32_t attributes) { return (attributes & attributes_that_block_removal) != 0; }

// A read-only directory refuses removal, and under Wine (a Unix directory without write
// permission) the removal of its entries too, so it is cleared on entering it; hidden and
// system go with it.
void clear_directory_attributes(OpenedDirectory& directory, std::uint32_t attributes) {
  if (!has_blocking_attributes(attributes)) return;
  const std::uint32_t kept = attributes & ~(attributes_that_block_removal | attribute_directory);
  (void)directory.set_attributes(kept == 0 ? attribute_normal : kept);
}

enum class Entered { directory, removed_as_link, left };

// Decides through the handle, not the listing, what stands at the walked name now: a link is
// removed as itself; a directory is cleared and listed into `entries`.
Entered enter(OpenedDirectory* directory, std::uint32_t listed_attributes, std::vector<DirectoryEntry>& entries) {
  if (directory == nullptr) return Entered::left;
  const std::optional<std::uint32_t> attributes = directory->attributes();
  if (!attributes) return Entered::left;
  if ((*attributes & attribute_reparse_point) != 0) {
    return directory->remove() ? Entered::removed_as_link : Entered::left;
  }
  // Listed as a link yet opened as a plain directory: the system followed the link (Wine does).
  if ((listed_attributes & attribute_reparse_point) != 0 || (*attributes & attribute_directory) == 0) {
    return Entered::left;
  }
  clear_directory_attributes(*directory, *attributes);
  (void)directory->list(entries);
  return Entered::directory;
}

// Deletes the files among `entries` of the directory at `path` on several threads and leaves the
// directories for the walk. False when out of time.
bool delete_files_first(ParallelFileDeletion& deletion, const std::wstring& path, std::vector<DirectoryEntry>& entries,
                        const std::function<bool()>& out_of_time) {
  std::vector<FileToDelete> files;
  for (const DirectoryEntry& entry : entries) {
    if ((entry.attributes & attribute_directory) != 0) continue;
    files.push_back({path + L'\\' + entry.name, has_blocking_attributes(entry.attributes)});
  }
  if (files.empty()) return true;
  std::erase_if(entries, [](const DirectoryEntry& entry) { return (entry.attributes & attribute_directory) == 0; });
  return deletion.delete_all(files, out_of_time);
}

struct OpenDirectory {
  std::unique_ptr<OpenedDirectory> handle;
  std::vector<DirectoryEntry> entries;
  std::size_t next = 0;
  std::size_t path_length = 0;
};

}  // namespace

FileTreeOperations& system_file_tree_operations() {
  static SystemFileTreeOperations operations;
  return operations;
}

bool remove_tree(std::wstring path, FileTreeOperations& system, const std::function<bool()>& out_of_time) {
  const std::optional<std::uint32_t> root_attributes = system.attributes(path);
  if (!root_attributes) return true;
  if ((*root_attributes & attribute_directory) == 0) {
    return system.delete_file(path, has_blocking_attributes(*root_attributes));
  }
  // Files are deleted only where their final path is the walked path, so the walk goes on from
  // the final form of the root (long names, letter case as stored).
  std::wstring final_root;
  std::vector<OpenDirectory> open;
  open.push_back({system.open_root(path, final_root), {}, 0, 0});
  if (!final_root.empty()) path = std::move(final_root);
  open.back().path_length = path.size();
  switch (enter(open.back().handle.get(), *root_attributes, open.back().entries)) {
    case Entered::removed_as_link: return true;
    case Entered::left: return false;
    case Entered::directory: break;
  }
  std::optional<ParallelFileDeletion> parallel;
  if (system.deletes_files_concurrently()) parallel.emplace(system);
  if (parallel && !delete_files_first(*parallel, path, open.back().entries, out_of_time)) return false;

  // Depth-first without recursion: paths below the root may hold thousands of levels.
  bool root_gone = false;
  while (!open.empty()) {
    OpenDirectory& directory = open.back();
    path.resize(directory.path_length);
    if (out_of_time && out_of_time()) return false;
    if (directory.next == directory.entries.size()) {
      const bool removed = directory.handle->remove();
      if (open.size() == 1) root_gone = removed;
      open.pop_back();  // closing the handle removes the directory
      continue;
    }
    const DirectoryEntry entry = std::move(directory.entries[directory.next++]);
    path += L'\\';
    path += entry.name;
    if ((entry.attributes & attribute_directory) == 0) {
      (void)system.delete_file(path, has_blocking_attributes(entry.attributes));
      continue;
    }
    OpenDirectory below{system.open_directory(path), {}, 0, path.size()};
    if (enter(below.handle.get(), entry.attributes, below.entries) == Entered::directory) {
      if (parallel && !delete_files_first(*parallel, path, below.entries, out_of_time)) return false;
      open.push_back(std::move(below));  // `directory` is not used past this point
    }
  }
  return root_gone;
}

}  // namespace osvari
