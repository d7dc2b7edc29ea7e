// The resource tree of a Windows image as one sorted list, read from and written to the bytes
// of a resource section.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pack/pe/pe_reader.h"

namespace osvari::pack {

inline constexpr std::uint32_t resource_type_icon = 3;
inline constexpr std::uint32_t resource_type_rcdata = 10;
inline constexpr std::uint32_t resource_type_group_icon = 14;
inline constexpr std::uint32_t resource_type_version = 16;
inline constexpr std::uint32_t resource_type_manifest = 24;
inline constexpr std::uint16_t language_neutral = 0;
inline constexpr std::uint16_t language_english_us = 0x409;

// A resource type, name or language: a number, or a string when `text` is not empty.
struct ResourceKey {
  std::uint32_t id = 0;
  std::u16string text;
  bool operator==(const ResourceKey&) const = default;
};

inline ResourceKey resource_id(std::uint32_t id) { return ResourceKey{id, {}}; }

// The order a resource directory needs: strings first, by code units; then numbers, ascending.
bool resource_key_less(const ResourceKey& a, const ResourceKey& b);

struct Resource {
  ResourceKey type;
  ResourceKey name;
  ResourceKey language;
  std::string data;
  std::uint32_t code_page = 0;
};

class ResourceTable {
 public:
  ResourceTable() = default;
  // Sorts `resources`; of several with the same type, name and language the last stays.
  explicit ResourceTable(std::vector<Resource> resources);

  // Sorted by type, name and language.
  const std::vector<Resource>& resources() const { return resources_; }
  std::vector<const Resource*> find(const ResourceKey& type, const ResourceKey& name) const;

  // Adds `resource`, replacing one with the same type, name and language.
  void add(Resource resource);
  // Removes every language of `type`/`name` and adds `data` once: in the language of the first
  // copy that was there, or in `language` when there was none.
  void replace(const ResourceKey& type, const ResourceKey& name, std::string data, std::uint16_t language);
  void remove_type(const ResourceKey& type);
  // Removes every language of `type`/`name`.
  void remove(const ResourceKey& type, const ResourceKey& name);

 private:
  std::vector<Resource> resources_;
};

// Returns the `size` bytes of the image at `rva`, or nothing when they are not in the file.
using ImageBytesAt = std::function<std::optional<std::string_view>(std::uint32_t rva, std::uint32_t size)>;

// Reads the three-level tree whose root directory begins `directory` (the section's bytes from
// there to the section's end). Throws ImageFormatError for anything out of bounds or malformed,
// and when the copies of names and data, at every level and on every visit, would exceed
// `byte_limit` bytes (the file's size), so that many entries pointing at one large blob or one
// long name cannot make memory or time grow past what the file holds.
ResourceTable read_resource_directory(std::string_view directory, const ImageBytesAt& bytes_at,
                                      std::uint64_t byte_limit);

// The resource tree of `image`, whose headers are `headers`; empty when it has none.
ResourceTable read_resources(std::string_view image, const PeHeaders& headers);

// The bytes of a resource section holding `table` when loaded at `section_rva`: directories,
// data descriptions, names, then the data, each item aligned to 8 bytes.
std::string write_resource_section(const ResourceTable& table, std::uint32_t section_rva);
// The same bytes appended to `out`, so that large data is copied only once.
void append_resource_section(std::string& out, const ResourceTable& table, std::uint32_t section_rva);

}  // namespace osvari::pack
