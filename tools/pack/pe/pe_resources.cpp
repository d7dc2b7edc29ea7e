#include "tools/pack/pe/pe_resources.h"

#include <algorithm>
#include <tuple>

#include "base/little_endian.h"

namespace osvari::pack {
namespace {

constexpr std::uint32_t high_bit = 0x80000000;
constexpr std::size_t directory_header_size = 16;
constexpr std::size_t directory_entry_size = 8;
constexpr std::size_t data_description_size = 16;

std::size_t align8(std::size_t value) { return (value + 7) & ~std::size_t{7}; }

char16_t folded(char16_t unit) { return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit; }

// Loaders look names up case-insensitively, so they are sorted that way; exact order breaks ties.
bool text_less(const std::u16string& a, const std::u16string& b) {
  const auto by_folded = [](char16_t x, char16_t y) { return folded(x) < folded(y); };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), by_folded)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), by_folded)) return false;
  return a < b;
}

bool resource_less(const Resource& a, const Resource& b) {
  if (!(a.type == b.type)) return resource_key_less(a.type, b.type);
  if (!(a.name == b.name)) return resource_key_less(a.name, b.name);
  return resource_key_less(a.language, b.language);
}

class DirectoryReader {
 public:
  DirectoryReader(std::string_view directory, const ImageBytesAt& bytes_at, std::uint64_t byte_limit)
      : directory_(directory),
        bytes_at_(bytes_at),
        entries_left_(directory.size() / directory_entry_size),
        bytes_left_(byte_limit) {}

  ResourceTable read() {
    ResourceKey keys[3];
    read_directory(0, 0, keys);
    return ResourceTable(std::move(resources_));
  }

 private:
  std::uint32_t u16(std::uint64_t offset) const {
    if (offset + 2 > directory_.size()) throw ImageFormatError("the resource directory is cut short");
    return little_endian_u16(directory_, offset);
  }
  std::uint32_t u32(std::uint64_t offset) const { return u16(offset) | (u16(offset + 2) << 16); }

  // Entries may share a name, and directories with no data below them copy it on every visit
  // too: each copy counts against the budget before it is made.
  ResourceKey key(std::uint32_t field) {
    if ((field & high_bit) == 0) return resource_id(field);
    const std::uint64_t offset = field & ~high_bit;
    const std::uint32_t length = u16(offset);
    if (length == 0) throw ImageFormatError("a resource has an empty name");
    spend(2 * std::uint64_t{length});
    ResourceKey result;
    for (std::uint32_t i = 0; i < length; ++i) result.text.push_back(static_cast<char16_t>(u16(offset + 2 + 2 * i)));
    return result;
  }

  void read_directory(std::uint32_t offset, int level, ResourceKey (&keys)[3]) {
    const std::uint32_t count = u16(offset + 12) + u16(offset + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
      // A valid tree visits each entry once; more visits mean entries that point back.
      if (entries_left_-- == 0) throw ImageFormatError("the resource directory refers to itself");
      const std::uint64_t entry = offset + directory_header_size + std::uint64_t{i} * directory_entry_size;
      keys[level] = key(u32(entry));
      const std::uint32_t target = u32(entry + 4);
      const bool is_directory = (target & high_bit) != 0;
      if (level < 2) {
        if (!is_directory) throw ImageFormatError("the resource directory has data where a directory belongs");
        read_directory(target & ~high_bit, level + 1, keys);
        continue;
      }
      if (is_directory) throw ImageFormatError("the resource directory is deeper than three levels");
      const std::uint32_t rva = u32(target);
      const std::uint32_t size = u32(target + 4);
      const auto data = bytes_at_(rva, size);
      if (!data) throw ImageFormatError("a resource's data lies outside the file");
      // Every leaf gets its own copy of its keys and data; entries that share them must not
      // make that more than the file holds.
      spend(data->size() + 2 * (keys[0].text.size() + keys[1].text.size() + keys[2].text.size()));
      resources_.push_back({keys[0], keys[1], keys[2], std::string(*data), u32(target + 8)});
    }
  }

  // Everything copied out of the file, keys and data, comes out of one budget: the file's size.
  void spend(std::uint64_t bytes) {
    if (bytes > bytes_left_) {
      throw ImageFormatError("the resource directory lists more data than the file holds (entries share their bytes)");
    }
    bytes_left_ -= bytes;
  }

  std::string_view directory_;
  const ImageBytesAt& bytes_at_;
  std::size_t entries_left_;
  std::uint64_t bytes_left_;
  std::vector<Resource> resources_;
};


struct NameGroup {
  const ResourceKey* name;
  std::vector<const Resource*> languages;
  std::size_t offset = 0;
};
struct TypeGroup {
  const ResourceKey* type;
  std::vector<NameGroup> names;
  std::size_t offset = 0;
};

std::size_t directory_size(std::size_t entries) { return directory_header_size + entries * directory_entry_size; }

}  // namespace

bool resource_key_less(const ResourceKey& a, const ResourceKey& b) {
  const bool a_named = !a.text.empty();
  const bool b_named = !b.text.empty();
  if (a_named != b_named) return a_named;
  return a_named ? text_less(a.text, b.text) : a.id < b.id;
}

std::vector<const Resource*> ResourceTable::find(const ResourceKey& type, const ResourceKey& name) const {
  std::vector<const Resource*> found;
  for (const Resource& resource : resources_) {
    if (resource.type == type && resource.name == name) found.push_back(&resource);
  }
  return found;
}

ResourceTable::ResourceTable(std::vector<Resource> resources) : resources_(std::move(resources)) {
  // As if added one by one: of several with the same type, name and language the last stays.
  std::stable_sort(resources_.begin(), resources_.end(), resource_less);
  const auto last_of_each = std::unique(resources_.rbegin(), resources_.rend(), [](const Resource& a, const Resource& b) {
    return !resource_less(a, b) && !resource_less(b, a);
  });
  resources_.erase(resources_.begin(), last_of_each.base());
}

void ResourceTable::add(Resource resource) {
  const auto place = std::lower_bound(resources_.begin(), resources_.end(), resource, resource_less);
  if (place != resources_.end() && !resource_less(resource, *place)) {
    *place = std::move(resource);
  } else {
    resources_.insert(place, std::move(resource));
  }
}

void ResourceTable::replace(const ResourceKey& type, const ResourceKey& name, std::string data,
                            std::uint16_t language) {
  const auto existing = find(type, name);
  const ResourceKey kept = existing.empty() ? resource_id(language) : existing.front()->language;
  std::erase_if(resources_, [&](const Resource& r) { return r.type == type && r.name == name; });
  add({type, name, kept, std::move(data), 0});
}

void ResourceTable::remove_type(const ResourceKey& type) {
  std::erase_if(resources_, [&](const Resource& r) { return r.type == type; });
}

void ResourceTable::remove(const ResourceKey& type, const ResourceKey& name) {
  std::erase_if(resources_, [&](const Resource& r) { return r.type == type && r.name == name; });
}

ResourceTable read_resource_directory(std::string_view directory, const ImageBytesAt& bytes_at,
                                      std::uint64_t byte_limit) {
  return DirectoryReader(directory, bytes_at, byte_limit).read();
}

ResourceTable read_resources(std::string_view image, const PeHeaders& headers) {
  const std::uint32_t resource_rva = headers.directory(pe_resource_directory).address;
  if (resource_rva == 0) return {};
  const auto directory = headers.file_data_from(resource_rva);
  if (!directory) throw ImageFormatError("has a resource directory outside its sections");
  return read_resource_directory(image.substr(directory->first, directory->second),
                                 [&](std::uint32_t rva, std::uint32_t size) -> std::optional<std::string_view> {
                                   const auto offset = headers.file_offset(rva, size);
                                   if (!offset) return std::nullopt;
                                   return image.substr(*offset, size);
                                 },
                                 image.size());
}

std::string write_resource_section(const ResourceTable& table, std::uint32_t section_rva) {
  std::string section;
  append_resource_section(section, table, section_rva);
  return section;
}

void append_resource_section(std::string& out, const ResourceTable& table, std::uint32_t section_rva) {
  std::vector<TypeGroup> types;
  for (const Resource& resource : table.resources()) {
    if (types.empty() || !(*types.back().type == resource.type)) types.push_back({&resource.type, {}});
    auto& names = types.back().names;
    if (names.empty() || !(*names.back().name == resource.name)) names.push_back({&resource.name, {}});
    names.back().languages.push_back(&resource);
  }

  // Layout: root, type directories, name directories, data descriptions, names, data.
  std::size_t position = directory_size(types.size());
  for (TypeGroup& type : types) {
    type.offset = position;
    position += directory_size(type.names.size());
  }
  for (TypeGroup& type : types) {
    for (NameGroup& name : type.names) {
      name.offset = position;
      position += directory_size(name.languages.size());
    }
  }
  const std::size_t descriptions = position;
  position += table.resources().size() * data_description_size;

  std::string names_block;
  const auto name_field = [&](const ResourceKey& key) -> std::uint32_t {
    if (key.text.empty()) return key.id & ~high_bit;
    const std::size_t offset = position + names_block.size();
    append_little_endian(names_block, key.text.size(), 2);
    for (char16_t unit : key.text) append_little_endian(names_block, unit, 2);
    return high_bit | static_cast<std::uint32_t>(offset);
  };

  std::string section(descriptions, '\0');
  // One directory: the counts of named and numbered entries, then an entry per key.
  const auto write_directory = [&](std::size_t offset, const std::vector<const ResourceKey*>& keys,
                                   const std::vector<std::size_t>& targets) {
    const auto named =
        std::count_if(keys.begin(), keys.end(), [](const ResourceKey* key) { return !key->text.empty(); });
    store_little_endian(section, offset + 12, static_cast<std::uint32_t>(named), 2);
    store_little_endian(section, offset + 14, static_cast<std::uint32_t>(keys.size() - named), 2);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::size_t entry = offset + directory_header_size + i * directory_entry_size;
      store_little_endian(section, entry, name_field(*keys[i]), 4);
      store_little_endian(section, entry + 4, static_cast<std::uint32_t>(targets[i]), 4);
    }
  };

  std::vector<const ResourceKey*> type_keys;
  std::vector<std::size_t> type_targets;
  std::size_t description = descriptions;
  for (const TypeGroup& type : types) {
    type_keys.push_back(type.type);
    type_targets.push_back(high_bit | type.offset);
    std::vector<const ResourceKey*> name_keys;
    std::vector<std::size_t> name_targets;
    for (const NameGroup& name : type.names) {
      name_keys.push_back(name.name);
      name_targets.push_back(high_bit | name.offset);
      std::vector<const ResourceKey*> language_keys;
      std::vector<std::size_t> description_offsets;
      for (const Resource* resource : name.languages) {
        language_keys.push_back(&resource->language);
        description_offsets.push_back(description);
        description += data_description_size;
      }
      write_directory(name.offset, language_keys, description_offsets);
    }
    write_directory(type.offset, name_keys, name_targets);
  }
  write_directory(0, type_keys, type_targets);

  section.resize(descriptions + table.resources().size() * data_description_size);
  section += names_block;
  // The data follows the directories; each is copied once, straight to `out`.
  std::size_t size = section.size();
  for (std::size_t i = 0; i < table.resources().size(); ++i) {
    size = align8(size);
    const std::size_t description = descriptions + i * data_description_size;
    store_little_endian(section, description, section_rva + static_cast<std::uint32_t>(size), 4);
    store_little_endian(section, description + 4, static_cast<std::uint32_t>(table.resources()[i].data.size()), 4);
    store_little_endian(section, description + 8, table.resources()[i].code_page, 4);
    size += table.resources()[i].data.size();
  }
  const std::size_t base = out.size();
  out.reserve(base + align8(size));
  out += section;
  for (const Resource& resource : table.resources()) {
    out.resize(base + align8(out.size() - base), '\0');
    out += resource.data;
  }
  out.resize(base + align8(out.size() - base), '\0');
}

}  // namespace osvari::pack
