#include "tools/pack/pe/pe_executable.h"

#include <algorithm>
#include <cstring>

namespace osvari::pack {
namespace {

constexpr std::uint16_t machine_x86_64 = 0x8664;
constexpr std::uint16_t optional_header_pe32 = 0x10B;
constexpr std::uint16_t optional_header_pe32_plus = 0x20B;
constexpr std::uint16_t characteristic_dll = 0x2000;
constexpr std::size_t coff_header_size = 20;
constexpr std::size_t section_header_size = 40;
// PE32+ optional header fields.
constexpr std::size_t size_of_initialized_data = 8;
constexpr std::size_t section_alignment_field = 32;
constexpr std::size_t file_alignment_field = 36;
constexpr std::size_t size_of_image = 56;
constexpr std::size_t size_of_headers = 60;
constexpr std::size_t checksum_field = 64;
constexpr std::size_t subsystem_field = 68;
constexpr std::size_t directory_count_field = 108;
constexpr std::size_t data_directories = 112;
constexpr int resource_directory = 2;
constexpr int certificate_directory = 4;
constexpr std::uint32_t initialized_readable_data = 0x40000040;

std::uint64_t align_up(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool power_of_two(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

void put16(std::string& out, std::size_t offset, std::uint32_t value) {
  out[offset] = static_cast<char>(value & 0xFF);
  out[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, std::size_t offset, std::uint32_t value) {
  put16(out, offset, value & 0xFFFF);
  put16(out, offset + 2, value >> 16);
}

}  // namespace

std::uint16_t PeExecutable::u16(std::size_t offset) const {
  if (offset > image_.size() || image_.size() - offset < 2) throw ImageFormatError("is cut short (headers missing)");
  return static_cast<std::uint16_t>(static_cast<unsigned char>(image_[offset]) |
                                    (static_cast<unsigned char>(image_[offset + 1]) << 8));
}

std::uint32_t PeExecutable::u32(std::size_t offset) const {
  return u16(offset) | (static_cast<std::uint32_t>(u16(offset + 2)) << 16);
}

std::size_t PeExecutable::data_directory(int index) const { return optional_ + data_directories + 8 * index; }

PeExecutable::PeExecutable(std::string image) : image_(std::move(image)) {
  if (image_.size() < 2 || image_[0] != 'M' || image_[1] != 'Z') {
    throw ImageFormatError("is not a Windows executable (no MZ header)");
  }
  const std::uint32_t pe = u32(0x3C);
  if (pe > image_.size() || image_.size() - pe < 4 || std::memcmp(image_.data() + pe, "PE\0\0", 4) != 0) {
    throw ImageFormatError("is not a Windows executable (no PE header)");
  }
  coff_ = pe + 4;
  optional_ = coff_ + coff_header_size;
  if (u16(coff_) != machine_x86_64) throw ImageFormatError("is not built for x86-64");
  const std::uint16_t magic = u16(optional_);
  if (magic == optional_header_pe32) throw ImageFormatError("is a 32-bit (PE32) image, not PE32+ for x86-64");
  if (magic != optional_header_pe32_plus) throw ImageFormatError("has an unknown optional header");

  const std::uint16_t optional_size = u16(coff_ + 16);
  directory_count_ = u32(optional_ + directory_count_field);
  if (directory_count_ <= certificate_directory ||
      optional_size < data_directories + 8 * std::size_t{directory_count_}) {
    throw ImageFormatError("has no room for resource and certificate directories in its header");
  }
  file_alignment_ = u32(optional_ + file_alignment_field);
  section_alignment_ = u32(optional_ + section_alignment_field);
  if (!power_of_two(file_alignment_) || !power_of_two(section_alignment_)) {
    throw ImageFormatError("has a damaged header (alignment not a power of two)");
  }
  subsystem_ = u16(optional_ + subsystem_field);

  section_table_ = optional_ + optional_size;
  const std::uint16_t count = u16(coff_ + 2);
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t header = section_table_ + std::size_t{i} * section_header_size;
    const Section section{u32(header + 8), u32(header + 12), u32(header + 16), u32(header + 20)};
    if (section.raw_size != 0 && std::uint64_t{section.raw_offset} + section.raw_size > image_.size()) {
      throw ImageFormatError("is cut short (a section's data lies beyond the end of the file)");
    }
    sections_.push_back(section);
  }

  certificate_offset_ = u32(data_directory(certificate_directory));
  certificate_size_ = u32(data_directory(certificate_directory) + 4);
  if (certificate_size_ != 0 && std::uint64_t{certificate_offset_} + certificate_size_ > image_.size()) {
    throw ImageFormatError("is cut short (its signature lies beyond the end of the file)");
  }

  const std::uint32_t resource_rva = u32(data_directory(resource_directory));
  if (resource_rva == 0) return;
  const auto bytes_at = [this](std::uint32_t rva, std::uint32_t size) -> std::optional<std::string_view> {
    for (const Section& s : sections_) {
      if (rva < s.virtual_address || rva - s.virtual_address >= std::max(s.virtual_size, s.raw_size)) continue;
      const std::uint64_t within = rva - s.virtual_address;
      if (within + size > s.raw_size) return std::nullopt;
      return std::string_view(image_).substr(s.raw_offset + within, size);
    }
    return std::nullopt;
  };
  for (const Section& s : sections_) {
    if (resource_rva < s.virtual_address || resource_rva - s.virtual_address >= s.raw_size) continue;
    const std::uint32_t within = resource_rva - s.virtual_address;
    resources_ =
        read_resource_directory(std::string_view(image_).substr(s.raw_offset + within, s.raw_size - within), bytes_at);
    return;
  }
  throw ImageFormatError("has a resource directory outside its sections");
}

bool PeExecutable::is_dll() const { return (u16(coff_ + 18) & characteristic_dll) != 0; }

std::uint16_t PeExecutable::subsystem() const { return subsystem_; }

std::string PeExecutable::write() const {
  std::uint64_t sections_end = 0;
  std::uint64_t first_raw = image_.size();
  std::uint64_t image_end = 0;
  for (const Section& s : sections_) {
    if (s.raw_size != 0) {
      sections_end = std::max<std::uint64_t>(sections_end, std::uint64_t{s.raw_offset} + s.raw_size);
      first_raw = std::min<std::uint64_t>(first_raw, s.raw_offset);
    }
    image_end =
        std::max<std::uint64_t>(image_end, std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
  }
  sections_end = std::max<std::uint64_t>(sections_end, u32(optional_ + size_of_headers));
  const std::uint64_t overlay_end = certificate_size_ != 0 ? certificate_offset_ : image_.size();
  if (overlay_end < sections_end) {
    throw ImageFormatError(certificate_size_ != 0 ? "has a signature that overlaps its sections"
                                                  : "is cut short (its headers claim more than the file holds)");
  }

  // Rewritten in place only when the resource section is last in the file and in memory.
  const std::uint32_t resource_rva = u32(data_directory(resource_directory));
  std::optional<std::size_t> in_place;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (resource_rva != 0 && s.virtual_address == resource_rva && s.raw_size != 0 &&
        std::uint64_t{s.raw_offset} + s.raw_size == sections_end &&
        std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size) == image_end) {
      in_place = i;
    }
  }

  // Everything before the new section, copied once: the old resources or the overlay are not.
  const std::uint64_t kept = in_place ? sections_[*in_place].raw_offset : sections_end;
  std::string out(image_, 0, kept);
  std::uint32_t section_rva = 0;
  std::uint64_t section_offset = 0;
  std::size_t header = 0;
  std::uint32_t old_raw_size = 0;
  if (in_place) {
    const Section& s = sections_[*in_place];
    section_rva = s.virtual_address;
    section_offset = s.raw_offset;
    old_raw_size = s.raw_size;
    header = section_table_ + *in_place * section_header_size;
  } else {
    header = section_table_ + sections_.size() * section_header_size;
    if (header + section_header_size > u32(optional_ + size_of_headers) || header + section_header_size > first_raw) {
      throw ImageFormatError("has no room for another section header");
    }
    if (sections_.size() >= 0xFFFF) throw ImageFormatError("has too many sections");
    section_rva = static_cast<std::uint32_t>(align_up(image_end, section_alignment_));
    section_offset = align_up(sections_end, file_alignment_);
    out.replace(header, 8, std::string(".rsrc\0\0\0", 8));
    // Tools that find resources by section name (binutils) must find the new ones.
    for (std::size_t i = 0; i < sections_.size(); ++i) {
      const std::size_t old_header = section_table_ + i * section_header_size;
      if (resource_rva != 0 && resource_rva >= sections_[i].virtual_address &&
          resource_rva - sections_[i].virtual_address < sections_[i].raw_size &&
          image_.compare(old_header, 8, std::string(".rsrc\0\0\0", 8)) == 0) {
        out.replace(old_header, 8, ".oldrsrc");
      }
    }
    put32(out, header + 24, 0);
    put32(out, header + 28, 0);
    put32(out, header + 32, 0);
    put32(out, header + 36, initialized_readable_data);
    put16(out, coff_ + 2, static_cast<std::uint32_t>(sections_.size() + 1));
  }

  // The image up to the new section, the section, then whatever followed the sections.
  out.resize(section_offset, '\0');
  append_resource_section(out, resources_, section_rva);
  const std::uint64_t section_size = out.size() - section_offset;
  const std::uint64_t raw_size = align_up(section_size, file_alignment_);
  if (section_offset + raw_size > 0xFFFFFFFFULL || std::uint64_t{section_rva} + section_size > 0xFFFFFFFFULL) {
    throw ImageFormatError("would be 4 GiB or larger with these resources");
  }
  put32(out, header + 8, static_cast<std::uint32_t>(section_size));
  put32(out, header + 12, section_rva);
  put32(out, header + 16, static_cast<std::uint32_t>(raw_size));
  put32(out, header + 20, static_cast<std::uint32_t>(section_offset));
  out.resize(section_offset + raw_size, '\0');
  const std::uint64_t overlay_start = out.size();
  out.append(image_, sections_end, overlay_end - sections_end);

  // Symbols that lay after the sections move with them; any other place is gone.
  const std::uint32_t symbols = u32(coff_ + 8);
  if (symbols != 0) {
    if (symbols >= sections_end && symbols < overlay_end) {
      put32(out, coff_ + 8, static_cast<std::uint32_t>(symbols - sections_end + overlay_start));
    } else {
      put32(out, coff_ + 8, 0);
      put32(out, coff_ + 12, 0);
    }
  }

  put32(out, data_directory(resource_directory), section_rva);
  put32(out, data_directory(resource_directory) + 4, static_cast<std::uint32_t>(section_size));
  put32(out, data_directory(certificate_directory), 0);
  put32(out, data_directory(certificate_directory) + 4, 0);
  // Every other section still ends where it did; the resources end where they now end.
  std::uint64_t loaded_end = std::uint64_t{section_rva} + section_size;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (in_place && i == *in_place) continue;
    const Section& s = sections_[i];
    loaded_end =
        std::max<std::uint64_t>(loaded_end, std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
  }
  put32(out, optional_ + size_of_image, static_cast<std::uint32_t>(align_up(loaded_end, section_alignment_)));
  put32(out, optional_ + size_of_initialized_data,
        static_cast<std::uint32_t>(u32(optional_ + size_of_initialized_data) - old_raw_size + raw_size));
  put16(out, optional_ + subsystem_field, subsystem_);
  put32(out, optional_ + checksum_field, pe_checksum(out, optional_ + checksum_field));
  return out;
}

std::uint32_t pe_checksum(std::string_view image, std::size_t checksum_offset) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    if (i == checksum_offset || i == checksum_offset + 2) continue;
    std::uint32_t word = static_cast<unsigned char>(image[i]);
    if (i + 1 < image.size()) word |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[i + 1])) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

}  // namespace osvari::pack
