#include "launcher/finish/tree_removal.h"

#include <utility>

namespace osvari {
namespace {

constexpr std::uint32_t attributes_that_block_removal = attribute_read_only | attribute_hidden | attribute_system;

class SystemFileTreeOperations final : public FileTreeOperations {
 public:
  std::optional<std::uint32_t> attributes(const std::wstring& path) override { return file_attributes(path.c_str()); }
  bool list_directory(const std::wstring& path, std::vector<DirectoryEntry>& entries) override {
    return osvari::list_directory(path, L"*", entries);
  }
  std::wstring final_path(const std::wstring& path) override { return final_path_of(path.c_str()); }
  bool set_attributes(const std::wstring& path, std::uint32_t attributes) override {
    return set_file_attributes(path.c_str(), attributes);
  }
  bool delete_file(const std::wstring& path, bool clear_blocking_attributes) override {
    return delete_file_itself(path.c_str(), clear_blocking_attributes);
  }
  bool remove_directory(const std::wstring& path) override { return osvari::remove_directory(path.c_str()); }
};

bool is_directory_to_enter(std::uint32_t attributes) {
  return (attributes & attribute_directory) != 0 && (attributes & attribute_reparse_point) == 0;
}

bool has_blocking_attributes(std::uint32_t attributes) { return (attributes & attributes_that_block_removal) != 0; }

// A read-only directory refuses removal, and under Wine (a Unix directory without write
// permission) the removal of its entries too, so it is cleared on entering it; hidden and
// system go with it. Never done on a link, whose attributes the system may set on the target.
void clear_directory_attributes(const std::wstring& path, std::uint32_t attributes, FileTreeOperations& system) {
  if (!has_blocking_attributes(attributes) || (attributes & attribute_reparse_point) != 0) return;
  const std::uint32_t kept = attributes & ~(attributes_that_block_removal | attribute_directory);
  (void)system.set_attributes(path, kept == 0 ? attribute_normal : kept);
}

// A file, an emptied directory, or a link of either kind: the link itself goes, never what it
// points to.
bool remove_entry(const std::wstring& path, std::uint32_t attributes, FileTreeOperations& system) {
  if ((attributes & attribute_directory) == 0) return system.delete_file(path, has_blocking_attributes(attributes));
  return system.remove_directory(path);
}

// Lists a directory about to be emptied, once it may be changed.
void enter_directory(const std::wstring& path, std::uint32_t attributes, std::vector<DirectoryEntry>& entries,
                     FileTreeOperations& system) {
  clear_directory_attributes(path, attributes, system);
  (void)system.list_directory(path, entries);
}

struct OpenDirectory {
  std::vector<DirectoryEntry> entries;
  std::size_t next = 0;
  std::size_t path_length = 0;
  std::uint32_t attributes = 0;
};

}  // namespace

FileTreeOperations& system_file_tree_operations() {
  static SystemFileTreeOperations operations;
  return operations;
}

bool remove_tree(std::wstring path, FileTreeOperations& system, const std::function<bool()>& out_of_time) {
  const std::optional<std::uint32_t> root_attributes = system.attributes(path);
  if (!root_attributes) return true;
  if (!is_directory_to_enter(*root_attributes)) return remove_entry(path, *root_attributes, system);
  // Files are deleted only where their final path is the walked path, so the walk starts from
  // the final form of the root (long names, letter case as stored).
  if (std::wstring final_root = system.final_path(path); !final_root.empty()) path = std::move(final_root);

  // Depth-first without recursion: paths below the root may hold thousands of levels.
  std::vector<OpenDirectory> open;
  open.push_back({{}, 0, path.size(), *root_attributes});
  enter_directory(path, *root_attributes, open.back().entries, system);
  bool root_gone = false;
  while (!open.empty()) {
    OpenDirectory& directory = open.back();
    path.resize(directory.path_length);
    if (out_of_time && out_of_time()) return false;
    if (directory.next == directory.entries.size()) {
      const bool removed = remove_entry(path, directory.attributes, system);
      if (open.size() == 1) root_gone = removed;
      open.pop_back();
      continue;
    }
    const DirectoryEntry entry = std::move(directory.entries[directory.next++]);
    path += L'\\';
    path += entry.name;
    if (is_directory_to_enter(entry.attributes)) {
      OpenDirectory below{{}, 0, path.size(), entry.attributes};
      enter_directory(path, entry.attributes, below.entries, system);
      open.push_back(std::move(below));  // `directory` is not used past this point
    } else {
      (void)remove_entry(path, entry.attributes, system);
    }
  }
  return root_gone;
}

}  // namespace osvari
