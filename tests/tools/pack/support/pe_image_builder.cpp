#include "tests/tools/pack/support/pe_image_builder.h"

#include "base/little_endian.h"

namespace osvari::testing {

void put_u16(std::string& image, std::size_t offset, std::uint16_t value) {
  if (image.size() < offset + 2) image.resize(offset + 2);
  store_little_endian(image, offset, value, 2);
}

void put_u32(std::string& image, std::size_t offset, std::uint32_t value) {
  if (image.size() < offset + 4) image.resize(offset + 4);
  store_little_endian(image, offset, value, 4);
}

namespace {

std::string padded(std::string section) {
  section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF});
  return section;
}

// Import descriptors (20 bytes, name at 12) and delay-load descriptors (32 bytes, name at 4),
// each table ended by a zero descriptor, then the names.
std::string import_section(const PeImageSpec& spec, std::uint32_t& imports_size, std::uint32_t& delay_offset,
                           std::uint32_t& delay_size) {
  using namespace pe_layout;
  const std::size_t import_table = (spec.imports.size() + 1) * 20;
  const std::size_t delay_table = (spec.delay_imports.size() + 1) * 32;
  std::string section(import_table + delay_table, '\0');
  const auto add_name = [&](const std::string& name) {
    const auto address = static_cast<std::uint32_t>(import_section_address + section.size());
    section.append(name);
    section.push_back('\0');
    return address;
  };
  for (std::size_t i = 0; i < spec.imports.size(); ++i) put_u32(section, i * 20 + 12, add_name(spec.imports[i]));
  for (std::size_t i = 0; i < spec.delay_imports.size(); ++i) {
    put_u32(section, import_table + i * 32, 1);  // addresses are relative
    put_u32(section, import_table + i * 32 + 4, add_name(spec.delay_imports[i]));
  }
  imports_size = static_cast<std::uint32_t>(import_table);
  delay_offset = static_cast<std::uint32_t>(import_table);
  delay_size = static_cast<std::uint32_t>(delay_table);
  return section;
}

}  // namespace

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
  image += section;

  std::uint16_t sections = 1;
  const auto add_section = [&](const char* name, std::uint32_t address, const std::string& contents) {
    const std::size_t header = section_table + 40 * sections;
    image.replace(header, 8, std::string(name).append(8 - std::string(name).size(), '\0'));
    put_u32(image, header + 8, static_cast<std::uint32_t>(contents.size()));
    put_u32(image, header + 12, address);
    const std::string raw = padded(contents);
    put_u32(image, header + 16, static_cast<std::uint32_t>(raw.size()));
    put_u32(image, header + 20, static_cast<std::uint32_t>(image.size()));
    image += raw;
    put_u16(image, section_count, ++sections);
  };
  const auto set_directory = [&](int index, std::uint32_t address, std::uint32_t size) {
    put_u32(image, optional_header + 112 + 8 * index, address);
    put_u32(image, optional_header + 112 + 8 * index + 4, size);
  };
  if (!spec.imports.empty() || !spec.delay_imports.empty()) {
    std::uint32_t imports_size = 0, delay_offset = 0, delay_size = 0;
    add_section(".idata", import_section_address, import_section(spec, imports_size, delay_offset, delay_size));
    if (!spec.imports.empty()) set_directory(1, import_section_address, imports_size);
    if (!spec.delay_imports.empty()) set_directory(13, import_section_address + delay_offset, delay_size);
  }
  return image;
}

}  // namespace osvari::testing
