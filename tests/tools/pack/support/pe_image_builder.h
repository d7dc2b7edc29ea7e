// Minimal PE32+ images built in memory, so tests need no compiler for Windows DLLs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace osvari::testing {

struct PeImageSpec {
  std::uint16_t machine = 0x8664;
  std::uint16_t characteristics = 0x2022;  // executable image, large address aware, DLL
  bool export_directory = true;
  std::vector<std::string> export_names = {"run_code"};
  std::vector<std::string> imports = {};      // DLL names in the import table
  std::vector<std::string> delay_imports = {};  // DLL names in the delay-load import table
};

// Where the builder puts things, for tests that damage an image on purpose.
namespace pe_layout {
inline constexpr std::size_t pe_header_pointer = 0x3C;
inline constexpr std::size_t pe_signature = 0x40;
inline constexpr std::size_t coff_header = 0x44;
inline constexpr std::size_t section_count = coff_header + 2;
inline constexpr std::size_t optional_header = 0x58;
inline constexpr std::size_t export_directory_entry = optional_header + 112;
inline constexpr std::size_t section_table = optional_header + 240;
inline constexpr std::size_t section_raw_size = section_table + 16;
inline constexpr std::size_t section_raw_offset = section_table + 20;
inline constexpr std::size_t export_section = 0x200;  // file offset of the export directory
inline constexpr std::uint32_t export_section_address = 0x1000;
inline constexpr std::size_t export_name_count = export_section + 24;
inline constexpr std::size_t export_names_address = export_section + 32;
// The import section, after the export section.
inline constexpr std::uint32_t import_section_address = 0x10000;
}  // namespace pe_layout

std::string build_pe_image(const PeImageSpec& spec = {});

void put_u16(std::string& image, std::size_t offset, std::uint16_t value);
void put_u32(std::string& image, std::size_t offset, std::uint32_t value);

}  // namespace osvari::testing
