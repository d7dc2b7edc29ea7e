#include "tools/pack/pe_image.h"

#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace osvari::pack {
namespace {

constexpr std::uint16_t machine_x86_64 = 0x8664;
constexpr std::uint16_t characteristic_dll = 0x2000;
constexpr std::uint16_t optional_header_pe32_plus = 0x20B;
constexpr std::uint32_t coff_header_size = 20;
constexpr std::uint32_t section_header_size = 40;
constexpr std::uint32_t export_directory_size = 40;
// PE32+ optional header: NumberOfRvaAndSizes at 108, the data directories from 112.
constexpr std::uint32_t rva_count_offset = 108;
constexpr std::uint32_t data_directories_offset = 112;
constexpr std::string_view wanted_export = "run_code";

struct Section {
  std::uint32_t virtual_address;
  std::uint32_t virtual_size;
  std::uint32_t raw_size;
  std::uint32_t raw_offset;
};

class Image {
 public:
  explicit Image(const ImageReader& read) : read_(read) {}

  template <std::size_t N>
  std::optional<std::array<unsigned char, N>> bytes(std::uint64_t offset) const {
    std::array<unsigned char, N> result{};
    if (!read_(offset, result)) return std::nullopt;
    return result;
  }
  std::optional<std::uint16_t> u16(std::uint64_t offset) const {
    const auto b = bytes<2>(offset);
    if (!b) return std::nullopt;
    return static_cast<std::uint16_t>((*b)[0] | ((*b)[1] << 8));
  }
  std::optional<std::uint32_t> u32(std::uint64_t offset) const {
    const auto b = bytes<4>(offset);
    if (!b) return std::nullopt;
    return static_cast<std::uint32_t>((*b)[0]) | (static_cast<std::uint32_t>((*b)[1]) << 8) |
           (static_cast<std::uint32_t>((*b)[2]) << 16) | (static_cast<std::uint32_t>((*b)[3]) << 24);
  }

 private:
  const ImageReader& read_;
};

// The file offset of `length` bytes at `rva`, when they lie within one section's raw data.
std::optional<std::uint64_t> file_offset(const std::vector<Section>& sections, std::uint32_t rva,
                                         std::uint32_t length) {
  for (const Section& section : sections) {
    const std::uint64_t extent = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
    if (rva < section.virtual_address || rva - section.virtual_address >= extent) continue;
    const std::uint64_t within = rva - section.virtual_address;
    if (within + length > section.raw_size) return std::nullopt;  // zero-filled, not in the file
    return section.raw_offset + within;
  }
  return std::nullopt;
}

}  // namespace

PeCheck check_pe_image(const ImageReader& read) {
  const Image image(read);
  const auto magic = image.bytes<2>(0);
  if (!magic || (*magic)[0] != 'M' || (*magic)[1] != 'Z') return PeCheck::no_mz_header;
  const auto pe_offset = image.u32(0x3C);
  if (!pe_offset) return PeCheck::damaged;
  const auto signature = image.bytes<4>(*pe_offset);
  if (!signature || std::memcmp(signature->data(), "PE\0\0", 4) != 0) return PeCheck::no_pe_header;

  const std::uint64_t coff = *pe_offset + 4ULL;
  const auto machine = image.u16(coff);
  const auto section_count = image.u16(coff + 2);
  const auto optional_size = image.u16(coff + 16);
  const auto characteristics = image.u16(coff + 18);
  if (!machine || !section_count || !optional_size || !characteristics) return PeCheck::damaged;
  if (*machine != machine_x86_64) return PeCheck::not_x86_64;
  if ((*characteristics & characteristic_dll) == 0) return PeCheck::not_a_dll;

  const std::uint64_t optional = coff + coff_header_size;
  const auto optional_magic = image.u16(optional);
  if (!optional_magic || *optional_magic != optional_header_pe32_plus) return PeCheck::damaged;
  const auto rva_count = image.u32(optional + rva_count_offset);
  if (!rva_count) return PeCheck::damaged;
  if (*rva_count == 0 || *optional_size < data_directories_offset + 8) return PeCheck::no_export_directory;
  const auto export_rva = image.u32(optional + data_directories_offset);
  const auto export_size = image.u32(optional + data_directories_offset + 4);
  if (!export_rva || !export_size) return PeCheck::damaged;
  if (*export_rva == 0 || *export_size == 0) return PeCheck::no_export_directory;

  std::vector<Section> sections;
  const std::uint64_t section_table = optional + *optional_size;
  for (std::uint32_t i = 0; i < *section_count; ++i) {
    const std::uint64_t header = section_table + std::uint64_t{i} * section_header_size;
    const auto virtual_size = image.u32(header + 8);
    const auto virtual_address = image.u32(header + 12);
    const auto raw_size = image.u32(header + 16);
    const auto raw_offset = image.u32(header + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_offset) return PeCheck::damaged;
    sections.push_back({*virtual_address, *virtual_size, *raw_size, *raw_offset});
    // A cut-off file still has its headers; its last section's data shows the loss.
    if (*raw_size != 0 && !image.bytes<1>(std::uint64_t{*raw_offset} + *raw_size - 1)) return PeCheck::damaged;
  }

  const auto directory = file_offset(sections, *export_rva, export_directory_size);
  if (!directory) return PeCheck::damaged;
  const auto name_count = image.u32(*directory + 24);
  const auto names_rva = image.u32(*directory + 32);
  if (!name_count || !names_rva) return PeCheck::damaged;
  if (*name_count == 0) return PeCheck::no_run_code_export;
  if (*name_count > 0xFFFFFFFFU / 4) return PeCheck::damaged;
  const auto names = file_offset(sections, *names_rva, *name_count * 4);
  if (!names) return PeCheck::damaged;

  for (std::uint32_t i = 0; i < *name_count; ++i) {
    const auto name_rva = image.u32(*names + std::uint64_t{i} * 4);
    if (!name_rva) return PeCheck::damaged;
    // "run_code" and its terminating zero; a shorter name at the end of its section still counts.
    constexpr std::uint32_t length = wanted_export.size() + 1;
    const auto name = file_offset(sections, *name_rva, length);
    if (!name) {
      if (!file_offset(sections, *name_rva, 1)) return PeCheck::damaged;
      continue;
    }
    const auto text = image.bytes<length>(*name);
    if (!text) return PeCheck::damaged;
    if (std::memcmp(text->data(), wanted_export.data(), wanted_export.size()) == 0 && (*text)[length - 1] == 0) {
      return PeCheck::dll_with_run_code;
    }
  }
  return PeCheck::no_run_code_export;
}

PeCheck check_pe_image(std::string_view image) {
  return check_pe_image([image](std::uint64_t offset, std::span<unsigned char> destination) {
    if (offset > image.size() || destination.size() > image.size() - offset) return false;
    std::memcpy(destination.data(), image.data() + offset, destination.size());
    return true;
  });
}

std::string_view pe_check_description(PeCheck result) {
  switch (result) {
    case PeCheck::dll_with_run_code: return {};
    case PeCheck::no_mz_header: return "is not a Windows DLL (no MZ header)";
    case PeCheck::no_pe_header: return "is not a Windows DLL (no PE header)";
    case PeCheck::not_x86_64: return "is not built for x86-64";
    case PeCheck::not_a_dll: return "is an executable, not a DLL";
    case PeCheck::damaged: return "is damaged (a header or the export table lies outside the file)";
    case PeCheck::no_export_directory: return "exports nothing (no export directory), so not run_code";
    case PeCheck::no_run_code_export: return "does not export run_code";
  }
  return "is not a usable DLL";
}

}  // namespace osvari::pack
