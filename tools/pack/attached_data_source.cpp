#include "tools/pack/attached_data_source.h"

#include <fstream>
#include <string>

#include "tools/pack/attached_data_format.h"
#include "tools/pack/entry_names.h"
#include "tools/pack/launcher_attach.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pe_layout.h"

namespace osvari::pack {
namespace {

constexpr std::uint32_t rt_rcdata = 10;
constexpr std::uint32_t resource_directory_header_size = 16;
constexpr std::uint32_t resource_entry_size = 8;
constexpr std::uint32_t subdirectory_flag = 0x80000000U;
constexpr std::uint32_t named_entry_flag = 0x80000000U;

// Resource tables keep their offsets relative to the start of the resource directory.
class ResourceTree {
 public:
  ResourceTree(const PeLayout& image, PeDataDirectory root) : image_(image), root_(root) {}

  // The offset of entry `id` in the table at `table`; with `id` empty, of its first entry.
  std::optional<std::uint32_t> find(std::uint32_t table, std::optional<std::uint32_t> id) const {
    const auto header = at(table, resource_directory_header_size);
    if (!header) return std::nullopt;
    const auto named = image_.u16(*header + 12);
    const auto numbered = image_.u16(*header + 14);
    if (!named || !numbered) return std::nullopt;
    const std::uint32_t count = std::uint32_t{*named} + *numbered;
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto entry = at(table + resource_directory_header_size + i * resource_entry_size, resource_entry_size);
      if (!entry) return std::nullopt;
      const auto name = image_.u32(*entry);
      const auto target = image_.u32(*entry + 4);
      if (!name || !target) return std::nullopt;
      if (!id || ((*name & named_entry_flag) == 0 && *name == *id)) return *target;
    }
    return std::nullopt;
  }

  std::optional<std::uint64_t> at(std::uint32_t offset, std::uint32_t length) const {
    if (offset >= root_.size || length > root_.size - offset) return std::nullopt;
    return image_.file_offset(root_.address + offset, length);
  }

 private:
  const PeLayout& image_;
  PeDataDirectory root_;
};

[[noreturn]] void fail_no_resource(const std::filesystem::path& file) {
  fail_bad_input(display_path(file) + ": an executable without attached data (no RCDATA resource " +
                 std::to_string(attached_data_resource_id) + ")");
}

}  // namespace

AttachedDataSource locate_attached_data(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) fail_bad_input("cannot read " + display_path(file));
  stream.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(stream.tellg());
  const ImageReader reader = [&](std::uint64_t offset, std::span<unsigned char> destination) {
    if (offset > size || destination.size() > size - offset) return false;
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(reinterpret_cast<char*>(destination.data()), static_cast<std::streamsize>(destination.size()));
    return stream.gcount() == static_cast<std::streamsize>(destination.size());
  };

  std::array<unsigned char, 3> start{};
  if (reader(0, start) && std::string_view(reinterpret_cast<const char*>(start.data()), 3) == attached_data_header) {
    return {file, 0, size, false};
  }
  const std::optional<PeLayout> image = PeLayout::read(reader);
  if (!image) {
    fail_bad_input(display_path(file) + ": neither an executable nor attached data (no MZ or KAY header)");
  }
  const PeDataDirectory resources = image->directory(pe_resource_directory);
  if (resources.address == 0 || resources.size == 0) fail_no_resource(file);

  // Type, then name, then language: the first language is the one the launcher's lookup finds.
  const ResourceTree tree(*image, resources);
  const auto type = tree.find(0, rt_rcdata);
  if (!type || (*type & subdirectory_flag) == 0) fail_no_resource(file);
  const auto name = tree.find(*type & ~subdirectory_flag, attached_data_resource_id);
  if (!name || (*name & subdirectory_flag) == 0) fail_no_resource(file);
  const auto language = tree.find(*name & ~subdirectory_flag, std::nullopt);
  if (!language || (*language & subdirectory_flag) != 0) fail_no_resource(file);

  const auto data_entry = tree.at(*language, 16);
  if (!data_entry) fail_bad_input(display_path(file) + ": the resource directory lies outside the file");
  const auto data_address = image->u32(*data_entry);
  const auto data_size = image->u32(*data_entry + 4);
  if (!data_address || !data_size)
    fail_bad_input(display_path(file) + ": the resource directory lies outside the file");
  const auto data_offset = image->file_offset(*data_address, *data_size);
  if (!data_offset || *data_offset + *data_size > size) {
    fail_bad_input(display_path(file) + ": the attached data resource lies outside the file");
  }
  return {file, *data_offset, *data_size, true};
}

}  // namespace osvari::pack
