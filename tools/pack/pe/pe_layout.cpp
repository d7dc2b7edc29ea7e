#include "tools/pack/pe/pe_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace osvari::pack {
namespace {

constexpr std::uint16_t optional_header_pe32 = 0x10B;
constexpr std::uint16_t optional_header_pe32_plus = 0x20B;
constexpr std::uint32_t coff_header_size = 20;
constexpr std::uint32_t section_header_size = 40;
constexpr std::uint32_t max_directories = 16;

}  // namespace

std::optional<PeLayout> PeLayout::read(const ImageReader& reader) {
  PeLayout layout(reader);
  std::array<unsigned char, 2> magic{};
  if (!reader(0, magic) || magic[0] != 'M' || magic[1] != 'Z') return std::nullopt;
  const auto pe_offset = layout.u32(0x3C);
  std::array<unsigned char, 4> signature{};
  if (!pe_offset || !reader(*pe_offset, signature) || std::memcmp(signature.data(), "PE\0\0", 4) != 0) {
    return std::nullopt;
  }
  const std::uint64_t coff = *pe_offset + 4ULL;
  const auto section_count = layout.u16(coff + 2);
  const auto optional_size = layout.u16(coff + 16);
  const std::uint64_t optional = coff + coff_header_size;
  const auto optional_magic = layout.u16(optional);
  if (!section_count || !optional_size || !optional_magic) return std::nullopt;
  // The count of data directories and the directories themselves sit 16 bytes further on in PE32+.
  std::uint32_t count_offset = 0;
  if (*optional_magic == optional_header_pe32) {
    count_offset = 92;
  } else if (*optional_magic == optional_header_pe32_plus) {
    count_offset = 108;
  } else {
    return std::nullopt;
  }
  const auto directory_count = layout.u32(optional + count_offset);
  if (!directory_count) return std::nullopt;
  const std::uint32_t readable = std::min<std::uint32_t>(*directory_count, max_directories);
  for (std::uint32_t i = 0; i < readable; ++i) {
    const std::uint64_t entry_offset = count_offset + 4ULL + 8ULL * i;
    if (entry_offset + 8 > *optional_size) break;
    const auto address = layout.u32(optional + entry_offset);
    const auto size = layout.u32(optional + entry_offset + 4);
    if (!address || !size) return std::nullopt;
    layout.directories_.push_back({*address, *size});
  }
  const std::uint64_t section_table = optional + *optional_size;
  for (std::uint32_t i = 0; i < *section_count; ++i) {
    const std::uint64_t header = section_table + std::uint64_t{i} * section_header_size;
    const auto virtual_size = layout.u32(header + 8);
    const auto virtual_address = layout.u32(header + 12);
    const auto raw_size = layout.u32(header + 16);
    const auto raw_offset = layout.u32(header + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_offset) return std::nullopt;
    layout.sections_.push_back({*virtual_address, *virtual_size, *raw_size, *raw_offset});
  }
  return layout;
}

PeDataDirectory PeLayout::directory(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= directories_.size()) return {};
  return directories_[static_cast<std::size_t>(index)];
}

bool PeLayout::section_data_within_image() const {
  std::array<unsigned char, 1> last{};
  return std::all_of(sections_.begin(), sections_.end(), [&](const Section& section) {
    return section.raw_size == 0 || reader_(std::uint64_t{section.raw_offset} + section.raw_size - 1, last);
  });
}

std::optional<std::uint64_t> PeLayout::file_offset(std::uint32_t address, std::uint32_t length) const {
  for (const Section& section : sections_) {
    const std::uint64_t extent = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
    if (address < section.virtual_address || address - section.virtual_address >= extent) continue;
    const std::uint64_t within = address - section.virtual_address;
    if (within + length > section.raw_size) return std::nullopt;  // zero-filled, not in the file
    return section.raw_offset + within;
  }
  return std::nullopt;
}

std::optional<std::uint16_t> read_u16(const ImageReader& reader, std::uint64_t offset) {
  std::array<unsigned char, 2> b{};
  if (!reader(offset, b)) return std::nullopt;
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::optional<std::uint32_t> read_u32(const ImageReader& reader, std::uint64_t offset) {
  std::array<unsigned char, 4> b{};
  if (!reader(offset, b)) return std::nullopt;
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::optional<std::uint16_t> PeLayout::u16(std::uint64_t offset) const { return read_u16(reader_, offset); }

std::optional<std::uint32_t> PeLayout::u32(std::uint64_t offset) const { return read_u32(reader_, offset); }

std::optional<std::uint32_t> PeLayout::u32_at_address(std::uint32_t address) const {
  const auto offset = file_offset(address, 4);
  if (!offset) return std::nullopt;
  return u32(*offset);
}

std::optional<std::string> PeLayout::string_at_address(std::uint32_t address, std::size_t max_length) const {
  std::string text;
  for (std::size_t i = 0; i <= max_length; ++i) {
    const auto offset = file_offset(address + static_cast<std::uint32_t>(i), 1);
    std::array<unsigned char, 1> byte{};
    if (!offset || !reader_(*offset, byte)) return std::nullopt;
    if (byte[0] == 0) return text;
    text.push_back(static_cast<char>(byte[0]));
  }
  return std::nullopt;
}

}  // namespace osvari::pack
