#include "tests/host/pe_image_builder.h"

namespace osvari::testing {

void put_u16(std::string& image, std::size_t offset, std::uint16_t value) {
  if (image.size() < offset + 2) image.resize(offset + 2);
  image[offset] = static_cast<char>(value & 0xFF);
  image[offset + 1] = static_cast<char>(value >> 8);
}

void put_u32(std::string& image, std::size_t offset, std::uint32_t value) {
  put_u16(image, offset, static_cast<std::uint16_t>(value & 0xFFFF));
  put_u16(image, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::string build_pe_image(const PeImageSpec& spec) {
  using namespace pe_layout;
  std::string image(export_section, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put_u32(image, pe_header_pointer, pe_signature);
  image.replace(pe_signature, 4, std::string("PE\0\0", 4));
  put_u16(image, coff_header, spec.machine);
  put_u16(image, section_count, 1);
  put_u16(image, coff_header + 16, 240);  // SizeOfOptionalHeader: PE32+ with 16 directories
  put_u16(image, coff_header + 18, spec.characteristics);
  put_u16(image, optional_header, 0x20B);
  put_u32(image, optional_header + 108, 16);

  // The export section: directory, address table, name pointers, ordinals, then the strings.
  const std::size_t count = spec.export_names.size();
  std::string section(40, '\0');
  const auto address_of = [](std::size_t offset) {
    return static_cast<std::uint32_t>(export_section_address + offset);
  };
  const std::size_t functions = section.size();
  const std::size_t names = functions + 4 * count;
  const std::size_t ordinals = names + 4 * count;
  std::size_t strings = ordinals + 2 * count;
  section.resize(strings);
  const std::size_t dll_name = strings;
  section.append("test.dll", 9);
  put_u32(section, 12, address_of(dll_name));
  put_u32(section, 16, 1);
  put_u32(section, 20, static_cast<std::uint32_t>(count));
  put_u32(section, 24, static_cast<std::uint32_t>(count));
  put_u32(section, 28, address_of(functions));
  put_u32(section, 32, address_of(names));
  put_u32(section, 36, address_of(ordinals));
  for (std::size_t i = 0; i < count; ++i) {
    put_u32(section, functions + 4 * i, export_section_address);
    put_u32(section, names + 4 * i, address_of(section.size()));
    put_u16(section, ordinals + 2 * i, static_cast<std::uint16_t>(i));
    section.append(spec.export_names[i]);
    section.push_back('\0');
  }

  const auto virtual_size = static_cast<std::uint32_t>(section.size());
  section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF});
  if (spec.export_directory) {
    put_u32(image, export_directory_entry, export_section_address);
    put_u32(image, export_directory_entry + 4, virtual_size);
  }
  image.replace(section_table, 8, std::string(".edata\0\0", 8));
  put_u32(image, section_table + 8, virtual_size);
  put_u32(image, section_table + 12, export_section_address);
  put_u32(image, section_raw_size, static_cast<std::uint32_t>(section.size()));
  put_u32(image, section_raw_offset, static_cast<std::uint32_t>(export_section));
  image.resize(export_section);
  return image + section;
}

}  // namespace osvari::testing
