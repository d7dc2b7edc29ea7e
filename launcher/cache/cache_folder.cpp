#include "launcher/cache/cache_folder.h"

#include <cwchar>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include "launcher/finish/finished_run_sweep.h"

namespace osvari {
namespace {

bool is_lower_hex_digit(wchar_t unit) { return (unit >= L'0' && unit <= L'9') || (unit >= L'a' && unit <= L'f'); }

wchar_t ascii_lower(wchar_t unit) { return unit >= L'A' && unit <= L'Z' ? unit - L'A' + L'a' : unit; }

bool equals_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

// "a\b\c.txt" -> "a\b"; "c.txt" -> "".
std::wstring_view folder_of(std::wstring_view name) {
  const std::size_t last = name.find_last_of(L'\\');
  return last == std::wstring_view::npos ? std::wstring_view() : name.substr(0, last);
}

std::wstring_view leaf_of(std::wstring_view name) {
  const std::size_t last = name.find_last_of(L'\\');
  return last == std::wstring_view::npos ? name : name.substr(last + 1);
}

// One folder's listing, indexed once by name: an open-addressing table of positions in one
// allocation, so that indexing and every look-up cost about the same whatever the folder holds.
class IndexedListing {
 public:
  explicit IndexedListing(std::vector<DirectoryEntry> entries) : entries_(std::move(entries)) {
    std::size_t capacity = 16;
    while (capacity < entries_.size() * 2) capacity *= 2;
    slots_.assign(capacity, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      std::size_t slot = hash_of(entries_[i].name);
      while (slots_[slot] != 0) slot = (slot + 1) & (slots_.size() - 1);
      slots_[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }

  [[nodiscard]] const DirectoryEntry* find(std::wstring_view name) const {
    for (std::size_t slot = hash_of(name); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
      const DirectoryEntry& entry = entries_[slots_[slot] - 1];
      if (entry.name == name) return &entry;
    }
    return nullptr;
  }

 private:
  [[nodiscard]] std::size_t hash_of(std::wstring_view name) const {
    return std::hash<std::wstring_view>{}(name) & (slots_.size() - 1);
  }

  std::vector<DirectoryEntry> entries_;
  std::vector<std::uint32_t> slots_;  // 0 for an empty slot, else the entry's position plus one
};

}  // namespace

std::wstring executable_base_name(std::wstring_view module_path) {
  std::wstring_view name = leaf_of(module_path);
  if (name.size() > 4 && equals_ignoring_ascii_case(name.substr(name.size() - 4), L".exe")) {
    name.remove_suffix(4);
  }
  return std::wstring(name);
}

std::wstring cache_folder_name(std::wstring_view base, std::wstring_view id) {
  return std::wstring(base) + L"-" + std::wstring(id);
}

bool is_cache_folder_name_of(std::wstring_view name, std::wstring_view base) {
  if (name.size() != base.size() + 1 + cache_id_digits) return false;
  if (!equals_ignoring_ascii_case(name.substr(0, base.size()), base) || name[base.size()] != L'-') return false;
  for (const wchar_t unit : name.substr(base.size() + 1)) {
    if (!is_lower_hex_digit(unit)) return false;
  }
  return true;
}

bool is_unused_cache(const DirectoryEntry& entry, std::wstring_view base, std::wstring_view own_name,
                     std::uint64_t now) {
  if ((entry.attributes & attribute_directory) == 0 || (entry.attributes & attribute_reparse_point) != 0) {
    return false;
  }
  if (!is_cache_folder_name_of(entry.name, base) || equals_ignoring_ascii_case(entry.name, own_name)) return false;
  return now > entry.last_write_time && now - entry.last_write_time > unused_cache_age;
}

std::wstring cache_in_use_mark_name(std::wstring_view name) {
  std::wstring lowered(name);
  for (wchar_t& unit : lowered) unit = ascii_lower(unit);
  return in_use_mark_name(lowered);
}

bool CacheCheck::complete() const {
  if (refused) return false;
  for (const bool wanted : rewrite) {
    if (wanted) return false;
  }
  return true;
}

CacheCheck check_cache_folder(const std::wstring& folder, const CacheIndex& index, const FolderLister& list) {
  // Every folder that holds an entry, and every folder on the way to one.
  std::set<std::wstring_view> folders{L""};
  for (const CacheIndexEntry& entry : index.entries) {
    for (std::wstring_view path = folder_of(entry.name); !path.empty(); path = folder_of(path)) {
      if (!folders.emplace(path).second) break;  // and so are the folders above it
    }
  }
  std::unordered_map<std::wstring_view, std::unique_ptr<IndexedListing>> listings;
  listings.reserve(folders.size());
  for (const std::wstring_view relative : folders) {
    std::vector<DirectoryEntry> entries;
    // A folder that cannot be listed holds nothing usable: its entries are all rewritten.
    if (list(relative.empty() ? folder : folder + L"\\" + std::wstring(relative), entries)) {
      listings.emplace(relative, std::make_unique<IndexedListing>(std::move(entries)));
    }
  }

  CacheCheck check;
  const auto listed_entry = [&](std::wstring_view name) -> const DirectoryEntry* {
    const auto listing = listings.find(folder_of(name));
    return listing == listings.end() ? nullptr : listing->second->find(leaf_of(name));
  };
  for (const std::wstring_view relative : folders) {
    if (relative.empty()) continue;
    const DirectoryEntry* entry = listed_entry(relative);
    if (entry != nullptr && (entry->attributes & attribute_reparse_point) != 0) check.refused = true;
  }
  check.rewrite.reserve(index.entries.size());
  for (const CacheIndexEntry& expected : index.entries) {
    const DirectoryEntry* entry = listed_entry(expected.name);
    if (entry != nullptr && (entry->attributes & attribute_reparse_point) != 0) check.refused = true;
    check.rewrite.push_back(entry == nullptr || (entry->attributes & attribute_directory) != 0 ||
                            entry->size != expected.size || entry->last_write_time != cached_file_time);
  }
  return check;
}

}  // namespace osvari
