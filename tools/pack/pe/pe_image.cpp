#include "tools/pack/pe/pe_image.h"

#include <array>
#include <cstring>

#include "tools/pack/pe/pe_layout.h"

namespace osvari::pack {
namespace {

constexpr std::uint16_t machine_x86_64 = 0x8664;
constexpr std::uint16_t characteristic_dll = 0x2000;
constexpr std::uint16_t optional_header_pe32_plus = 0x20B;
constexpr std::uint32_t coff_header_size = 20;
constexpr std::uint32_t export_directory_size = 40;
constexpr std::string_view wanted_export = "run_code";

// The header fields that say what kind of image this is, each with its own verdict; what
// lies beyond them is read through PeLayout.
PeCheck check_image_kind(const ImageReader& read) {
  std::array<unsigned char, 2> magic{};
  if (!read(0, magic) || magic[0] != 'M' || magic[1] != 'Z') return PeCheck::no_mz_header;
  const auto pe_offset = read_u32(read, 0x3C);
  if (!pe_offset) return PeCheck::damaged;
  std::array<unsigned char, 4> signature{};
  if (!read(*pe_offset, signature) || std::memcmp(signature.data(), "PE\0\0", 4) != 0) return PeCheck::no_pe_header;

  const std::uint64_t coff = *pe_offset + 4ULL;
  const auto machine = read_u16(read, coff);
  const auto characteristics = read_u16(read, coff + 18);
  if (!machine || !characteristics) return PeCheck::damaged;
  if (*machine != machine_x86_64) return PeCheck::not_x86_64;
  if ((*characteristics & characteristic_dll) == 0) return PeCheck::not_a_dll;
  const auto optional_magic = read_u16(read, coff + coff_header_size);
  if (!optional_magic || *optional_magic != optional_header_pe32_plus) return PeCheck::damaged;
  return PeCheck::dll_with_run_code;
}

}  // namespace

PeCheck check_pe_image(const ImageReader& read) {
  if (const PeCheck kind = check_image_kind(read); kind != PeCheck::dll_with_run_code) return kind;
  const std::optional<PeLayout> image = PeLayout::read(read);
  if (!image) return PeCheck::damaged;
  const PeDataDirectory exports = image->directory(pe_export_directory);
  if (exports.address == 0 || exports.size == 0) return PeCheck::no_export_directory;
  if (!image->section_data_within_image()) return PeCheck::damaged;

  const auto directory = image->file_offset(exports.address, export_directory_size);
  if (!directory) return PeCheck::damaged;
  const auto name_count = image->u32(*directory + 24);
  const auto names_rva = image->u32(*directory + 32);
  if (!name_count || !names_rva) return PeCheck::damaged;
  if (*name_count == 0) return PeCheck::no_run_code_export;
  if (*name_count > 0xFFFFFFFFU / 4) return PeCheck::damaged;
  const auto names = image->file_offset(*names_rva, *name_count * 4);
  if (!names) return PeCheck::damaged;

  for (std::uint32_t i = 0; i < *name_count; ++i) {
    const auto name_rva = image->u32(*names + std::uint64_t{i} * 4);
    if (!name_rva) return PeCheck::damaged;
    // "run_code" and its terminating zero; a shorter name at the end of its section still counts.
    constexpr std::uint32_t length = wanted_export.size() + 1;
    const auto name = image->file_offset(*name_rva, length);
    if (!name) {
      if (!image->file_offset(*name_rva, 1)) return PeCheck::damaged;
      continue;
    }
    std::array<unsigned char, length> text{};
    if (!read(*name, text)) return PeCheck::damaged;
    if (std::memcmp(text.data(), wanted_export.data(), wanted_export.size()) == 0 && text[length - 1] == 0) {
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
