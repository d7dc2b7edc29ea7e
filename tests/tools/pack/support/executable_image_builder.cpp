#include "tests/tools/pack/support/executable_image_builder.h"

#include <algorithm>

#include "base/little_endian.h"
#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::testing {
namespace {

using namespace executable_layout;

std::uint32_t align(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

struct SectionPlan {
  const char* name;
  std::string bytes;
  std::uint32_t characteristics;
};

}  // namespace

std::uint16_t read_u16(std::string_view bytes, std::size_t offset) { return little_endian_u16(bytes, offset); }

std::uint32_t read_u32(std::string_view bytes, std::size_t offset) { return little_endian_u32(bytes, offset); }

std::function<std::string(std::uint32_t)> resources_of(const pack::ResourceTable& table) {
  return [table](std::uint32_t rva) { return pack::write_resource_section(table, rva); };
}

std::string resources_sharing_one_blob(std::uint32_t rva, std::uint16_t leaves, std::size_t blob_size) {
  constexpr std::size_t name_directory = 24;
  constexpr std::size_t language_directory = 48;
  const std::size_t description = language_directory + 16 + 8 * std::size_t{leaves};
  const std::size_t blob = description + 16;
  std::string section(blob, '\0');
  put_u16(section, 14, 1);
  put_u32(section, 16, 10);  // RCDATA
  put_u32(section, 20, 0x80000000 | name_directory);
  put_u16(section, name_directory + 14, 1);
  put_u32(section, name_directory + 16, 27);
  put_u32(section, name_directory + 20, 0x80000000 | language_directory);
  put_u16(section, language_directory + 14, leaves);
  for (std::size_t i = 0; i < leaves; ++i) {
    put_u32(section, language_directory + 16 + 8 * i, static_cast<std::uint32_t>(i));
    put_u32(section, language_directory + 20 + 8 * i, static_cast<std::uint32_t>(description));
  }
  put_u32(section, description, rva + static_cast<std::uint32_t>(blob));
  put_u32(section, description + 4, static_cast<std::uint32_t>(blob_size));
  section.append(blob_size, 'B');
  return section;
}

std::string resources_sharing_one_name(std::uint16_t types, std::uint16_t name_length) {
  const std::size_t empty_directory = 16 + 8 * std::size_t{types};
  const std::size_t name = empty_directory + 16;
  std::string section(name + 2 + 2 * std::size_t{name_length}, 'n');
  section.replace(0, name, name, '\0');
  put_u16(section, 12, types);
  for (std::size_t i = 0; i < types; ++i) {
    put_u32(section, 16 + 8 * i, 0x80000000 | static_cast<std::uint32_t>(name));
    put_u32(section, 20 + 8 * i, 0x80000000 | static_cast<std::uint32_t>(empty_directory));
  }
  put_u16(section, name, name_length);
  return section;
}

std::string build_executable_image(const ExecutableSpec& spec) {
  std::string image(spec.size_of_headers, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put_u32(image, 0x3C, coff_header - 4);
  image.replace(coff_header - 4, 4, std::string("PE\0\0", 4));
  put_u16(image, coff_header, spec.machine);
  put_u32(image, coff_header + 4, 0x5F000000);  // a link time stamp
  put_u16(image, coff_header + 16, 240);
  put_u16(image, coff_header + 18, spec.characteristics);
  put_u16(image, optional_header, spec.magic);
  put_u32(image, optional_header + 32, section_alignment);
  put_u32(image, optional_header + 36, file_alignment);
  put_u32(image, optional_header + 60, spec.size_of_headers);
  put_u16(image, optional_header + 68, spec.subsystem);
  put_u32(image, optional_header + 108, 16);

  std::vector<SectionPlan> plan = {{".text", std::string(0x345, '\xC3'), 0x60000020}};
  const std::string relocations = std::string("\0\x10\0\0\x0C\0\0\0\0\0\0\0", 12);
  if (spec.resources && spec.relocations_after_resources) {
    plan.push_back({".rsrc", {}, 0x40000040});
    plan.push_back({".reloc", relocations, 0x42000040});
  } else {
    plan.push_back({".reloc", relocations, 0x42000040});
    if (spec.resources) plan.push_back({".rsrc", {}, 0x40000040});
  }

  std::uint32_t address = code_address;
  std::uint32_t initialized = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    SectionPlan& section = plan[i];
    if (std::string(section.name) == ".rsrc") {
      section.bytes = spec.resources(address);
      put_u32(image, optional_header + 112 + 8 * 2, address);
      put_u32(image, optional_header + 112 + 8 * 2 + 4, static_cast<std::uint32_t>(section.bytes.size()));
    }
    if (std::string(section.name) == ".reloc") {
      put_u32(image, optional_header + 112 + 8 * 5, address);
      put_u32(image, optional_header + 112 + 8 * 5 + 4, static_cast<std::uint32_t>(section.bytes.size()));
    }
    const std::size_t header = section_table + i * 40;
    const auto raw_size = align(static_cast<std::uint32_t>(section.bytes.size()), file_alignment);
    image.replace(header, std::string(section.name).size(), section.name);
    put_u32(image, header + 8, static_cast<std::uint32_t>(section.bytes.size()));
    put_u32(image, header + 12, address);
    put_u32(image, header + 16, raw_size);
    put_u32(image, header + 20, static_cast<std::uint32_t>(image.size()));
    put_u32(image, header + 36, section.characteristics);
    if (section.characteristics & 0x40) initialized += raw_size;
    image += section.bytes;
    image.resize(image.size() + raw_size - section.bytes.size(), '\0');
    address = align(address + static_cast<std::uint32_t>(section.bytes.size()), section_alignment);
  }
  put_u16(image, coff_header + 2, static_cast<std::uint16_t>(plan.size()));
  put_u32(image, optional_header + 8, initialized);
  put_u32(image, optional_header + 56, address);
  put_u32(image, optional_header + 16, code_address);  // entry point

  if (spec.symbols_in_overlay) {
    put_u32(image, coff_header + 8, static_cast<std::uint32_t>(image.size()));
    put_u32(image, coff_header + 12, static_cast<std::uint32_t>(spec.overlay.size() / 18));
  }
  image += spec.overlay;
  if (!spec.certificate.empty()) {
    image.resize(align(static_cast<std::uint32_t>(image.size()), 8), '\0');
    put_u32(image, optional_header + 112 + 8 * 4, static_cast<std::uint32_t>(image.size()));
    put_u32(image, optional_header + 112 + 8 * 4 + 4, static_cast<std::uint32_t>(spec.certificate.size()));
    image += spec.certificate;
  }
  return image;
}

ImageFacts image_facts(std::string_view image) {
  const std::size_t coff = read_u32(image, 0x3C) + 4;
  const std::size_t optional = coff + 20;
  const std::size_t table = optional + read_u16(image, coff + 16);
  ImageFacts facts{};
  facts.section_count = read_u16(image, coff + 2);
  facts.subsystem = read_u16(image, optional + 68);
  facts.size_of_image = read_u32(image, optional + 56);
  facts.checksum = read_u32(image, optional + 64);
  facts.symbol_table = read_u32(image, coff + 8);
  facts.symbol_count = read_u32(image, coff + 12);
  facts.resource_rva = read_u32(image, optional + 112 + 16);
  facts.certificate_offset = read_u32(image, optional + 112 + 32);
  facts.certificate_size = read_u32(image, optional + 112 + 36);
  facts.file_alignment = read_u32(image, optional + 36);
  const std::uint32_t section_alignment = read_u32(image, optional + 32);
  for (std::size_t i = 0; i < facts.section_count; ++i) {
    const std::size_t header = table + i * 40;
    facts.sections_named_rsrc += image.substr(header, 8) == std::string_view(".rsrc\0\0\0", 8);
    const std::uint32_t memory_end =
        align(read_u32(image, header + 12) + read_u32(image, header + 8), section_alignment);
    facts.last_section_end_in_memory = std::max(facts.last_section_end_in_memory, memory_end);
    facts.last_section_end_in_file =
        std::max(facts.last_section_end_in_file, read_u32(image, header + 20) + read_u32(image, header + 16));
  }
  return facts;
}

}  // namespace osvari::testing
