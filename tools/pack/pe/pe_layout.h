// The parts of a PE image that the import check reads: data directories and
// sections, with addresses mapped to file offsets. Every read is bounds-checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/pack/pe/pe_image.h"

namespace osvari::pack {

struct PeDataDirectory {
  std::uint32_t address = 0;  // relative virtual address; 0 when absent
  std::uint32_t size = 0;
};

inline constexpr int pe_export_directory = 0;
inline constexpr int pe_import_directory = 1;
inline constexpr int pe_delay_import_directory = 13;

// Little-endian values read through `reader`; no value when the bytes are not all there.
std::optional<std::uint16_t> read_u16(const ImageReader& reader, std::uint64_t offset);
std::optional<std::uint32_t> read_u32(const ImageReader& reader, std::uint64_t offset);

class PeLayout {
 public:
  // No value when the image is not a PE32 or PE32+ image or its headers lie outside it.
  static std::optional<PeLayout> read(const ImageReader& reader);

  PeDataDirectory directory(int index) const;
  // True when every section's file data lies within the image: a cut-off file keeps its
  // headers, and only its last section's data shows the loss.
  bool section_data_within_image() const;
  // The file offset of `length` bytes at `address`, when they lie in one section's file data.
  std::optional<std::uint64_t> file_offset(std::uint32_t address, std::uint32_t length) const;
  std::optional<std::uint16_t> u16(std::uint64_t offset) const;
  std::optional<std::uint32_t> u32(std::uint64_t offset) const;
  std::optional<std::uint32_t> u32_at_address(std::uint32_t address) const;
  // A zero-terminated string at `address` of at most `max_length` characters.
  std::optional<std::string> string_at_address(std::uint32_t address, std::size_t max_length) const;

 private:
  struct Section {
    std::uint32_t virtual_address;
    std::uint32_t virtual_size;
    std::uint32_t raw_size;
    std::uint32_t raw_offset;
  };

  explicit PeLayout(const ImageReader& reader) : reader_(reader) {}

  ImageReader reader_;
  std::vector<PeDataDirectory> directories_;
  std::vector<Section> sections_;
};

}  // namespace osvari::pack
