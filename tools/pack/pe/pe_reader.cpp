#include "tools/pack/pe/pe_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace osvari::pack {
namespace {

constexpr std::uint32_t max_directories = 16;
// The count of data directories and the directories themselves sit 16 bytes further on in PE32+.
constexpr std::uint32_t pe32_directory_count_field = 92;
constexpr std::uint32_t pe32_plus_directory_count_field = 108;

bool power_of_two(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

std::variant<PeFileHeader, PeHeaderProblem> read_pe_file_header(const ImageBytes& bytes) {
  std::array<unsigned char, 2> magic{};
  if (!bytes.read(0, magic) || magic[0] != 'M' || magic[1] != 'Z') return PeHeaderProblem::no_mz_header;
  const auto pe_offset = bytes.u32(0x3C);
  if (!pe_offset) return PeHeaderProblem::cut_short;
  std::array<unsigned char, 4> signature{};
  if (!bytes.read(*pe_offset, signature) || std::memcmp(signature.data(), "PE\0\0", 4) != 0) {
    return PeHeaderProblem::no_pe_header;
  }
  PeFileHeader header;
  header.coff_offset = *pe_offset + 4ULL;
  const std::uint64_t coff = header.coff_offset;
  const auto machine = bytes.u16(coff);
  const auto section_count = bytes.u16(coff + 2);
  const auto symbol_table = bytes.u32(coff + 8);
  const auto symbol_count = bytes.u32(coff + 12);
  const auto optional_size = bytes.u16(coff + 16);
  const auto characteristics = bytes.u16(coff + 18);
  const auto optional_magic = bytes.u16(coff + pe_coff_header_size);
  if (!machine || !section_count || !symbol_table || !symbol_count || !optional_size || !characteristics) {
    return PeHeaderProblem::cut_short;
  }
  header.machine = *machine;
  header.section_count = *section_count;
  header.symbol_table = *symbol_table;
  header.symbol_count = *symbol_count;
  header.optional_size = *optional_size;
  header.characteristics = *characteristics;
  header.optional_magic = optional_magic;
  return header;
}

std::optional<PeHeaders> PeHeaders::read(const ImageBytes& bytes, const PeFileHeader& file_header) {
  PeHeaders headers;
  headers.file_header_ = file_header;
  headers.file_size_ = bytes.size();
  const std::uint64_t optional = file_header.optional_offset();
  std::uint32_t count_field = 0;
  if (file_header.optional_magic == pe_optional_header_pe32) {
    count_field = pe32_directory_count_field;
  } else if (file_header.optional_magic == pe_optional_header_pe32_plus) {
    count_field = pe32_plus_directory_count_field;
  } else {
    return std::nullopt;
  }
  namespace field = pe_optional_field;
  const auto initialized_data = bytes.u32(optional + field::size_of_initialized_data);
  const auto section_alignment = bytes.u32(optional + field::section_alignment);
  const auto file_alignment = bytes.u32(optional + field::file_alignment);
  const auto size_of_headers = bytes.u32(optional + field::size_of_headers);
  const auto subsystem = bytes.u16(optional + field::subsystem);
  const auto directory_count = bytes.u32(optional + count_field);
  if (!initialized_data || !section_alignment || !file_alignment || !size_of_headers || !subsystem ||
      !directory_count) {
    return std::nullopt;
  }
  headers.size_of_initialized_data_ = *initialized_data;
  headers.section_alignment_ = *section_alignment;
  headers.file_alignment_ = *file_alignment;
  headers.size_of_headers_ = *size_of_headers;
  headers.subsystem_ = *subsystem;
  headers.directory_count_ = *directory_count;
  headers.directories_offset_ = optional + count_field + 4;

  const std::uint32_t readable = std::min(*directory_count, max_directories);
  for (std::uint32_t i = 0; i < readable; ++i) {
    const std::uint64_t entry = count_field + 4ULL + 8ULL * i;
    if (entry + 8 > file_header.optional_size) break;
    const auto address = bytes.u32(optional + entry);
    const auto size = bytes.u32(optional + entry + 4);
    if (!address || !size) return std::nullopt;
    headers.directories_.push_back({*address, *size});
  }
  for (std::uint32_t i = 0; i < file_header.section_count; ++i) {
    const std::uint64_t header = headers.section_header_offset(i);
    const auto virtual_size = bytes.u32(header + 8);
    const auto virtual_address = bytes.u32(header + 12);
    const auto raw_size = bytes.u32(header + 16);
    const auto raw_offset = bytes.u32(header + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_offset) return std::nullopt;
    headers.sections_.push_back({*virtual_address, *virtual_size, *raw_size, *raw_offset});
  }
  return headers;
}

std::optional<PeHeaders> PeHeaders::read(const ImageBytes& bytes) {
  const auto file_header = read_pe_file_header(bytes);
  if (const auto* header = std::get_if<PeFileHeader>(&file_header)) return read(bytes, *header);
  return std::nullopt;
}

PeDataDirectory PeHeaders::directory(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= directories_.size()) return {};
  return directories_[static_cast<std::size_t>(index)];
}

std::uint64_t PeHeaders::directory_entry_offset(int index) const {
  return directories_offset_ + 8ULL * static_cast<std::uint64_t>(index);
}

bool PeHeaders::section_data_within_file() const {
  return std::all_of(sections_.begin(), sections_.end(), [&](const PeSection& section) {
    return section.raw_size == 0 || std::uint64_t{section.raw_offset} + section.raw_size <= file_size_;
  });
}

std::optional<std::pair<std::uint64_t, std::uint32_t>> PeHeaders::file_data_from(std::uint32_t address) const {
  for (const PeSection& section : sections_) {
    const std::uint64_t extent = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
    if (address < section.virtual_address || address - section.virtual_address >= extent) continue;
    const std::uint32_t within = address - section.virtual_address;
    if (within >= section.raw_size) return std::nullopt;  // zero-filled, not in the file
    return std::pair{std::uint64_t{section.raw_offset} + within, section.raw_size - within};
  }
  return std::nullopt;
}

std::optional<std::uint64_t> PeHeaders::file_offset(std::uint32_t address, std::uint32_t length) const {
  const auto data = file_data_from(address);
  if (!data || length > data->second) return std::nullopt;
  return data->first;
}

PeHeaders read_editable_headers(const ImageBytes& bytes) {
  const auto file_header = read_pe_file_header(bytes);
  if (const auto* problem = std::get_if<PeHeaderProblem>(&file_header)) {
    switch (*problem) {
      case PeHeaderProblem::no_mz_header: throw ImageFormatError("is not a Windows executable (no MZ header)");
      case PeHeaderProblem::no_pe_header: throw ImageFormatError("is not a Windows executable (no PE header)");
      case PeHeaderProblem::cut_short: break;
    }
    throw ImageFormatError("is cut short (headers missing)");
  }
  const PeFileHeader& header = std::get<PeFileHeader>(file_header);
  if (header.machine != pe_machine_x86_64) throw ImageFormatError("is not built for x86-64");
  if (!header.optional_magic) throw ImageFormatError("is cut short (headers missing)");
  if (header.optional_magic == pe_optional_header_pe32) {
    throw ImageFormatError("is a 32-bit (PE32) image, not PE32+ for x86-64");
  }
  if (header.optional_magic != pe_optional_header_pe32_plus) throw ImageFormatError("has an unknown optional header");
  std::optional<PeHeaders> headers = PeHeaders::read(bytes, header);
  if (!headers) throw ImageFormatError("is cut short (headers missing)");

  if (headers->directory_count() <= pe_certificate_directory ||
      header.optional_size < pe32_plus_directory_count_field + 4 + 8 * std::size_t{headers->directory_count()}) {
    throw ImageFormatError("has no room for resource and certificate directories in its header");
  }
  if (!power_of_two(headers->file_alignment()) || !power_of_two(headers->section_alignment())) {
    throw ImageFormatError("has a damaged header (alignment not a power of two)");
  }
  if (!headers->section_data_within_file()) {
    throw ImageFormatError("is cut short (a section's data lies beyond the end of the file)");
  }
  const PeDataDirectory certificate = headers->directory(pe_certificate_directory);
  if (certificate.size != 0 && std::uint64_t{certificate.address} + certificate.size > bytes.size()) {
    throw ImageFormatError("is cut short (its signature lies beyond the end of the file)");
  }
  return std::move(*headers);
}

std::optional<PeReader> PeReader::read(ImageBytes bytes) {
  std::optional<PeHeaders> headers = PeHeaders::read(bytes);
  if (!headers) return std::nullopt;
  return PeReader(std::move(bytes), std::move(*headers));
}

std::optional<std::uint32_t> PeReader::u32_at_address(std::uint32_t address) const {
  const auto offset = headers_.file_offset(address, 4);
  if (!offset) return std::nullopt;
  return bytes_.u32(*offset);
}

std::optional<std::string> PeReader::string_at_address(std::uint32_t address, std::size_t max_length) const {
  std::string text;
  for (std::size_t i = 0; i <= max_length; ++i) {
    const auto offset = headers_.file_offset(address + static_cast<std::uint32_t>(i), 1);
    std::array<unsigned char, 1> byte{};
    if (!offset || !bytes_.read(*offset, byte)) return std::nullopt;
    if (byte[0] == 0) return text;
    text.push_back(static_cast<char>(byte[0]));
  }
  return std::nullopt;
}

}  // namespace osvari::pack
