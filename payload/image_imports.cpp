#include "payload/image_imports.h"

#include <array>

#include "base/little_endian.h"

namespace osvari {
namespace {

constexpr std::size_t dos_header_size = 64;
constexpr std::size_t file_header_size = 20;
constexpr std::size_t section_header_size = 40;
constexpr std::size_t import_descriptor_size = 20;
constexpr std::uint32_t max_header_offset = 1u << 24;
constexpr std::uint16_t max_sections = 96;
constexpr std::size_t import_directory_index = 1;

struct Section {
  std::uint32_t virtual_address = 0;
  std::uint32_t virtual_size = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_offset = 0;
};

template <std::size_t size>
bool read_exactly(const ReadImageBytes& read, std::uint64_t offset, std::array<unsigned char, size>& into) {
  return read(offset, into.data(), size) == size;
}

std::uint32_t u32_at(const unsigned char* bytes) { return static_cast<std::uint32_t>(little_endian_value(bytes, 4)); }
std::uint16_t u16_at(const unsigned char* bytes) { return static_cast<std::uint16_t>(little_endian_value(bytes, 2)); }

// The file offset of `rva` with at least `length` bytes of the same section's file data after it.
std::optional<std::uint64_t> file_offset_of(const std::vector<Section>& sections, std::uint32_t rva,
                                            std::uint32_t length) {
  for (const Section& section : sections) {
    const std::uint64_t extent = section.virtual_size > section.raw_size ? section.virtual_size : section.raw_size;
    if (rva < section.virtual_address || rva - section.virtual_address >= extent) continue;
    const std::uint64_t inside = rva - section.virtual_address;
    if (inside + length > section.raw_size) return std::nullopt;
    return std::uint64_t{section.raw_offset} + inside;
  }
  return std::nullopt;
}

std::optional<std::string> read_name(const ReadImageBytes& read, const std::vector<Section>& sections,
                                     std::uint32_t rva) {
  const std::optional<std::uint64_t> offset = file_offset_of(sections, rva, 1);
  if (!offset) return std::nullopt;
  std::array<unsigned char, max_imported_dll_name + 1> bytes{};
  const std::size_t got = read(*offset, bytes.data(), bytes.size());
  std::string name;
  for (std::size_t i = 0; i < got && i < bytes.size(); ++i) {
    if (bytes[i] == 0) {
      if (name.empty()) return std::nullopt;
      return name;
    }
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) return std::nullopt;
    name.push_back(static_cast<char>(bytes[i]));
  }
  return std::nullopt;  // no end within the longest name, or the file ended first
}

}  // namespace

std::optional<std::vector<std::string>> read_imported_dll_names(const ReadImageBytes& read) {
  std::array<unsigned char, dos_header_size> dos{};
  if (!read_exactly(read, 0, dos) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  const std::uint32_t pe_offset = u32_at(&dos[0x3C]);
  if (pe_offset > max_header_offset) return std::nullopt;

  std::array<unsigned char, 4 + file_header_size> pe{};
  if (!read_exactly(read, pe_offset, pe) || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
    return std::nullopt;
  }
  const std::uint16_t section_count = u16_at(&pe[4 + 2]);
  const std::uint16_t optional_header_size = u16_at(&pe[4 + 16]);
  if (section_count > max_sections) return std::nullopt;

  // The optional header up to the import directory's entry: PE32+ and PE32 differ in where the
  // directories begin.
  const std::uint64_t optional_header = std::uint64_t{pe_offset} + 4 + file_header_size;
  std::array<unsigned char, 2> magic{};
  if (!read_exactly(read, optional_header, magic)) return std::nullopt;
  std::uint32_t directories_at = 0;
  if (u16_at(magic.data()) == 0x20B) {
    directories_at = 112;
  } else if (u16_at(magic.data()) == 0x10B) {
    directories_at = 96;
  } else {
    return std::nullopt;
  }
  std::array<unsigned char, 4> directory_count{};
  if (optional_header_size < directories_at || !read_exactly(read, optional_header + directories_at - 4, directory_count)) {
    return std::nullopt;
  }
  const std::uint32_t import_entry_end = directories_at + (import_directory_index + 1) * 8;
  if (u32_at(directory_count.data()) <= import_directory_index || optional_header_size < import_entry_end) {
    return std::vector<std::string>{};  // no import directory
  }
  std::array<unsigned char, 8> import_directory{};
  if (!read_exactly(read, optional_header + directories_at + import_directory_index * 8, import_directory)) {
    return std::nullopt;
  }
  const std::uint32_t imports_rva = u32_at(&import_directory[0]);
  if (imports_rva == 0) return std::vector<std::string>{};

  std::vector<Section> sections;
  const std::uint64_t section_table = optional_header + optional_header_size;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    std::array<unsigned char, section_header_size> header{};
    if (!read_exactly(read, section_table + i * section_header_size, header)) return std::nullopt;
    sections.push_back({u32_at(&header[12]), u32_at(&header[8]), u32_at(&header[16]), u32_at(&header[20])});
  }

  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    if (index > max_imported_dlls) return std::nullopt;
    const std::uint64_t descriptor_rva = std::uint64_t{imports_rva} + std::uint64_t{index} * import_descriptor_size;
    if (descriptor_rva > 0xFFFFFFFFu) return std::nullopt;
    const std::optional<std::uint64_t> offset =
        file_offset_of(sections, static_cast<std::uint32_t>(descriptor_rva), import_descriptor_size);
    if (!offset) return std::nullopt;
    std::array<unsigned char, import_descriptor_size> descriptor{};
    if (!read_exactly(read, *offset, descriptor)) return std::nullopt;
    const std::uint32_t name_rva = u32_at(&descriptor[12]);
    const std::uint32_t first_thunk = u32_at(&descriptor[16]);
    if (name_rva == 0 && first_thunk == 0) return names;  // the closing descriptor
    if (index == max_imported_dlls) return std::nullopt;
    std::optional<std::string> name = read_name(read, sections, name_rva);
    if (!name) return std::nullopt;
    names.push_back(std::move(*name));
  }
}

}  // namespace osvari
