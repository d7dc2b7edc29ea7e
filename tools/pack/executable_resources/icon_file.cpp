#include "tools/pack/executable_resources/icon_file.h"

#include "base/little_endian.h"
#include "tools/pack/pe/pe_resources.h"

namespace osvari::pack {
namespace {

constexpr std::size_t file_header_size = 6;
constexpr std::size_t file_entry_size = 16;
constexpr std::size_t shared_entry_fields = 12;  // size, colours, planes, bits, byte count

}  // namespace

IconResources read_icon_file(std::string_view file) {
  if (file.size() < file_header_size || little_endian_u16(file, 0) != 0 || little_endian_u16(file, 2) != 1) {
    throw ImageFormatError("is not an icon file (.ico)");
  }
  const std::size_t count = little_endian_u16(file, 4);
  if (count == 0) throw ImageFormatError("is an icon file without images");
  if (file.size() < file_header_size + count * file_entry_size) throw ImageFormatError("is cut short");

  IconResources resources;
  resources.group.assign(file.substr(0, file_header_size));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = file_header_size + i * file_entry_size;
    const std::uint32_t size = little_endian_u32(file, entry + 8);
    const std::uint32_t offset = little_endian_u32(file, entry + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      throw ImageFormatError("is cut short (image " + std::to_string(i + 1) + " lies beyond its end)");
    }
    resources.images.emplace_back(file.substr(offset, size));
    resources.group.append(file.substr(entry, shared_entry_fields));
    const auto id = static_cast<std::uint16_t>(i + 1);
    append_little_endian(resources.group, id, 2);
  }
  return resources;
}

}  // namespace osvari::pack
