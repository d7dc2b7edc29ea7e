// The one reader of PE images in the tool: the headers are parsed once into a checked view
// (COFF header, optional header, data directories, sections, addresses mapped to file
// offsets), and the run_code check, the import check, inspection and the editor all ask it.
// The bytes are untrusted: every offset and size is checked against the file.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "tools/pack/pe/image_bytes.h"

namespace osvari::pack {

inline constexpr std::uint16_t pe_machine_x86_64 = 0x8664;
inline constexpr std::uint16_t pe_characteristic_dll = 0x2000;
inline constexpr std::uint16_t pe_optional_header_pe32 = 0x10B;
inline constexpr std::uint16_t pe_optional_header_pe32_plus = 0x20B;
inline constexpr std::size_t pe_coff_header_size = 20;
inline constexpr std::size_t pe_section_header_size = 40;

inline constexpr int pe_export_directory = 0;
inline constexpr int pe_import_directory = 1;
inline constexpr int pe_resource_directory = 2;
inline constexpr int pe_certificate_directory = 4;
inline constexpr int pe_delay_import_directory = 13;

// Optional header fields that lie at the same offset in PE32 and PE32+.
namespace pe_optional_field {
inline constexpr std::size_t size_of_initialized_data = 8;
inline constexpr std::size_t section_alignment = 32;
inline constexpr std::size_t file_alignment = 36;
inline constexpr std::size_t size_of_image = 56;
inline constexpr std::size_t size_of_headers = 60;
inline constexpr std::size_t checksum = 64;
inline constexpr std::size_t subsystem = 68;
}  // namespace pe_optional_field

// Thrown when image bytes are not what they claim to be; the text says what is wrong.
struct ImageFormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class PeHeaderProblem {
  no_mz_header,
  no_pe_header,
  cut_short,  // the header pointer or the COFF header lies beyond the end
};

// What kind of image this is: the COFF file header and the optional header's magic.
struct PeFileHeader {
  std::uint64_t coff_offset = 0;
  std::uint16_t machine = 0;
  std::uint16_t section_count = 0;
  std::uint32_t symbol_table = 0;
  std::uint32_t symbol_count = 0;
  std::uint16_t optional_size = 0;
  std::uint16_t characteristics = 0;
  std::optional<std::uint16_t> optional_magic;  // none when the file ends before it

  std::uint64_t optional_offset() const { return coff_offset + pe_coff_header_size; }
  bool is_dll() const { return (characteristics & pe_characteristic_dll) != 0; }
};

std::variant<PeFileHeader, PeHeaderProblem> read_pe_file_header(const ImageBytes& bytes);

struct PeDataDirectory {
  std::uint32_t address = 0;  // relative virtual address; 0 when absent
  std::uint32_t size = 0;
};

struct PeSection {
  std::uint32_t virtual_address = 0;
  std::uint32_t virtual_size = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_offset = 0;
};

// The headers of a PE32 or PE32+ image. Plain values: a writer keeps them beside its own copy
// of the bytes and reads nothing again.
class PeHeaders {
 public:
  // No value when the magic is neither PE32 nor PE32+, or the optional header fields, data
  // directories or section table lie outside the file.
  static std::optional<PeHeaders> read(const ImageBytes& bytes, const PeFileHeader& file_header);
  static std::optional<PeHeaders> read(const ImageBytes& bytes);

  const PeFileHeader& file_header() const { return file_header_; }
  std::uint64_t file_size() const { return file_size_; }

  std::uint32_t size_of_initialized_data() const { return size_of_initialized_data_; }
  std::uint32_t section_alignment() const { return section_alignment_; }
  std::uint32_t file_alignment() const { return file_alignment_; }
  std::uint32_t size_of_headers() const { return size_of_headers_; }
  std::uint16_t subsystem() const { return subsystem_; }
  // The count the header gives, which may exceed the entries that are there.
  std::uint32_t directory_count() const { return directory_count_; }
  // Zero for a directory the header does not hold.
  PeDataDirectory directory(int index) const;
  // Where a data directory's entry lies in the file, for writers.
  std::uint64_t directory_entry_offset(int index) const;

  const std::vector<PeSection>& sections() const { return sections_; }
  std::uint64_t section_table_offset() const { return file_header_.optional_offset() + file_header_.optional_size; }
  std::uint64_t section_header_offset(std::size_t index) const {
    return section_table_offset() + index * pe_section_header_size;
  }
  // True when every section's file data lies within the file: a cut-off file keeps its
  // headers, and only its last section's data shows the loss.
  bool section_data_within_file() const;
  // The file offset of `length` bytes at `address`, when they lie in one section's file data.
  std::optional<std::uint64_t> file_offset(std::uint32_t address, std::uint32_t length) const;
  // The file bytes from `address` to the end of its section's file data.
  std::optional<std::pair<std::uint64_t, std::uint32_t>> file_data_from(std::uint32_t address) const;

 private:
  PeFileHeader file_header_;
  std::uint64_t file_size_ = 0;
  std::uint64_t directories_offset_ = 0;  // from the optional header
  std::uint32_t directory_count_ = 0;
  std::uint32_t size_of_initialized_data_ = 0;
  std::uint32_t section_alignment_ = 0;
  std::uint32_t file_alignment_ = 0;
  std::uint32_t size_of_headers_ = 0;
  std::uint16_t subsystem_ = 0;
  std::vector<PeDataDirectory> directories_;
  std::vector<PeSection> sections_;
};

// The headers of an x86-64 PE32+ image that can be inspected and edited: room for the resource
// and certificate directories, alignments that are powers of two, every section's data and the
// signature within the file. Throws ImageFormatError saying what is wrong.
PeHeaders read_editable_headers(const ImageBytes& bytes);

// The headers and the bytes together, for reading values at addresses.
class PeReader {
 public:
  PeReader(ImageBytes bytes, PeHeaders headers) : bytes_(std::move(bytes)), headers_(std::move(headers)) {}
  // No value when the image is not a PE32 or PE32+ image or its headers lie outside it.
  static std::optional<PeReader> read(ImageBytes bytes);

  const ImageBytes& bytes() const { return bytes_; }
  const PeHeaders& headers() const { return headers_; }
  std::optional<std::uint32_t> u32_at_address(std::uint32_t address) const;
  // A zero-terminated string at `address` of at most `max_length` characters.
  std::optional<std::string> string_at_address(std::uint32_t address, std::size_t max_length) const;

 private:
  ImageBytes bytes_;
  PeHeaders headers_;
};

}  // namespace osvari::pack
