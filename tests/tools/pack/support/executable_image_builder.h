// Minimal PE32+ executables built in memory, shaped like a linker's output where the packer
// cares: a code section, optional resources before or after a relocation section, a symbol
// table and other bytes after the sections, a certificate table at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/pack/pe/pe_resources.h"

namespace osvari::testing {

struct ExecutableSpec {
  std::uint16_t magic = 0x20B;  // PE32+
  std::uint16_t machine = 0x8664;
  std::uint16_t characteristics = 0x0022;  // executable image, large address aware
  std::uint16_t subsystem = 2;
  // Builds the resource section's bytes for the address it is given; none without it.
  std::function<std::string(std::uint32_t rva)> resources = {};
  bool relocations_after_resources = false;  // as mingw-w64's linker places them
  std::string overlay = {};                  // bytes after the last section
  bool symbols_in_overlay = false;           // the COFF symbol table pointer aims at the overlay
  std::string certificate = {};              // a certificate table after everything else
  std::uint32_t size_of_headers = 0x400;
};

namespace executable_layout {
inline constexpr std::size_t coff_header = 0x84;
inline constexpr std::size_t optional_header = coff_header + 20;
inline constexpr std::size_t section_table = optional_header + 240;
inline constexpr std::uint32_t file_alignment = 0x200;
inline constexpr std::uint32_t section_alignment = 0x1000;
inline constexpr std::uint32_t code_address = 0x1000;
inline constexpr std::uint32_t second_address = 0x2000;  // resources, or relocations first
}  // namespace executable_layout

std::string build_executable_image(const ExecutableSpec& spec = {});

// A resource section holding `table`, for ExecutableSpec::resources.
std::function<std::string(std::uint32_t)> resources_of(const pack::ResourceTable& table);

// A hostile resource section for `rva`: one type and name whose language directory has `leaves`
// entries, every one pointing at the same data description of `blob_size` bytes.
std::string resources_sharing_one_blob(std::uint32_t rva, std::uint16_t leaves, std::size_t blob_size);

// A hostile resource section with no data at all: the root's `types` entries are all named by one
// string of `name_length` code units and lead to one empty directory, so a reader that copies
// each entry's name copies types * name_length code units out of a few bytes.
std::string resources_sharing_one_name(std::uint16_t types, std::uint16_t name_length);

std::uint16_t read_u16(std::string_view bytes, std::size_t offset);
std::uint32_t read_u32(std::string_view bytes, std::size_t offset);

// What tests check in a written image, read straight from its headers.
struct ImageFacts {
  std::uint16_t section_count;
  std::uint16_t subsystem;
  std::uint32_t size_of_image;
  std::uint32_t checksum;
  std::uint32_t symbol_table;
  std::uint32_t symbol_count;
  std::uint32_t resource_rva;
  std::uint32_t certificate_offset;
  std::uint32_t certificate_size;
  std::uint32_t last_section_end_in_memory;  // aligned to the section alignment
  std::uint32_t last_section_end_in_file;
  std::uint32_t file_alignment;
  int sections_named_rsrc;
};
ImageFacts image_facts(std::string_view image);

}  // namespace osvari::testing
