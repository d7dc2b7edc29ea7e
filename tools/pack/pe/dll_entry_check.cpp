#include "tools/pack/pe/dll_entry_check.h"

#include <array>
#include <cstring>

#include "tools/pack/pe/pe_reader.h"

namespace osvari::pack {
namespace {

constexpr std::uint32_t export_directory_size = 40;
constexpr std::string_view wanted_export = "run_code";

}  // namespace

DllEntryCheck check_dll_entry(const ImageBytes& bytes) {
  // The header fields that say what kind of image this is come first, each with its own verdict.
  const auto read_header = read_pe_file_header(bytes);
  if (const auto* problem = std::get_if<PeHeaderProblem>(&read_header)) {
    switch (*problem) {
      case PeHeaderProblem::no_mz_header: return DllEntryCheck::no_mz_header;
      case PeHeaderProblem::no_pe_header: return DllEntryCheck::no_pe_header;
      case PeHeaderProblem::cut_short: return DllEntryCheck::damaged;
    }
  }
  const PeFileHeader& file_header = std::get<PeFileHeader>(read_header);
  if (file_header.machine != pe_machine_x86_64) return DllEntryCheck::not_x86_64;
  if (!file_header.is_dll()) return DllEntryCheck::not_a_dll;
  if (file_header.optional_magic != pe_optional_header_pe32_plus) return DllEntryCheck::damaged;

  const std::optional<PeHeaders> headers = PeHeaders::read(bytes, file_header);
  if (!headers) return DllEntryCheck::damaged;
  const PeDataDirectory exports = headers->directory(pe_export_directory);
  if (exports.address == 0 || exports.size == 0) return DllEntryCheck::no_export_directory;
  if (!headers->section_data_within_file()) return DllEntryCheck::damaged;

  const auto directory = headers->file_offset(exports.address, export_directory_size);
  if (!directory) return DllEntryCheck::damaged;
  const auto name_count = bytes.u32(*directory + 24);
  const auto names_rva = bytes.u32(*directory + 32);
  if (!name_count || !names_rva) return DllEntryCheck::damaged;
  if (*name_count == 0) return DllEntryCheck::no_run_code_export;
  if (*name_count > 0xFFFFFFFFU / 4) return DllEntryCheck::damaged;
  const auto names = headers->file_offset(*names_rva, *name_count * 4);
  if (!names) return DllEntryCheck::damaged;

  for (std::uint32_t i = 0; i < *name_count; ++i) {
    const auto name_rva = bytes.u32(*names + std::uint64_t{i} * 4);
    if (!name_rva) return DllEntryCheck::damaged;
    // "run_code" and its terminating zero; a shorter name at the end of its section still counts.
    constexpr std::uint32_t length = wanted_export.size() + 1;
    const auto name = headers->file_offset(*name_rva, length);
    if (!name) {
      if (!headers->file_offset(*name_rva, 1)) return DllEntryCheck::damaged;
      continue;
    }
    std::array<unsigned char, length> text{};
    if (!bytes.read(*name, text)) return DllEntryCheck::damaged;
    if (std::memcmp(text.data(), wanted_export.data(), wanted_export.size()) == 0 && text[length - 1] == 0) {
      return DllEntryCheck::dll_with_run_code;
    }
  }
  return DllEntryCheck::no_run_code_export;
}

DllEntryCheck check_dll_entry(std::string_view image) { return check_dll_entry(ImageBytes::in_memory(image)); }

std::string_view dll_entry_check_description(DllEntryCheck result) {
  switch (result) {
    case DllEntryCheck::dll_with_run_code: return {};
    case DllEntryCheck::no_mz_header: return "is not a Windows DLL (no MZ header)";
    case DllEntryCheck::no_pe_header: return "is not a Windows DLL (no PE header)";
    case DllEntryCheck::not_x86_64: return "is not built for x86-64";
    case DllEntryCheck::not_a_dll: return "is an executable, not a DLL";
    case DllEntryCheck::damaged: return "is damaged (a header or the export table lies outside the file)";
    case DllEntryCheck::no_export_directory: return "exports nothing (no export directory), so not run_code";
    case DllEntryCheck::no_run_code_export: return "does not export run_code";
  }
  return "is not a usable DLL";
}

}  // namespace osvari::pack
