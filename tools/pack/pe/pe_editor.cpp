#include "tools/pack/pe/pe_editor.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace osvari::pack {
namespace {

constexpr std::uint32_t initialized_readable_data = 0x40000040;

std::uint64_t align_up(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

PeEditor::PeEditor(std::string image)
    : image_(std::move(image)),
      headers_(read_editable_headers(ImageBytes::in_memory(image_))),
      subsystem_(headers_.subsystem()),
      resources_(read_resources(image_, headers_)) {}

std::string PeEditor::write() const {
  namespace field = pe_optional_field;
  const std::vector<PeSection>& sections = headers_.sections();
  const std::uint64_t coff = headers_.file_header().coff_offset;
  const std::uint64_t optional = headers_.file_header().optional_offset();
  const PeDataDirectory certificate = headers_.directory(pe_certificate_directory);
  std::uint64_t sections_end = 0;
  std::uint64_t first_raw = image_.size();
  std::uint64_t image_end = 0;
  for (const PeSection& s : sections) {
    if (s.raw_size != 0) {
      sections_end = std::max<std::uint64_t>(sections_end, std::uint64_t{s.raw_offset} + s.raw_size);
      first_raw = std::min<std::uint64_t>(first_raw, s.raw_offset);
    }
    image_end =
        std::max<std::uint64_t>(image_end, std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
  }
  sections_end = std::max<std::uint64_t>(sections_end, headers_.size_of_headers());
  const std::uint64_t overlay_end = certificate.size != 0 ? certificate.address : image_.size();
  if (overlay_end < sections_end) {
    throw ImageFormatError(certificate.size != 0 ? "has a signature that overlaps its sections"
                                                  : "is cut short (its headers claim more than the file holds)");
  }

  // Rewritten in place only when the resource section is last in the file and in memory.
  const std::uint32_t resource_rva = headers_.directory(pe_resource_directory).address;
  std::optional<std::size_t> in_place;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const PeSection& s = sections[i];
    if (resource_rva != 0 && s.virtual_address == resource_rva && s.raw_size != 0 &&
        std::uint64_t{s.raw_offset} + s.raw_size == sections_end &&
        std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size) == image_end) {
      in_place = i;
    }
  }

  // Everything before the new section, copied once: the old resources or the overlay are not.
  const std::uint64_t kept = in_place ? sections[*in_place].raw_offset : sections_end;
  std::string out(image_, 0, kept);
  std::uint32_t section_rva = 0;
  std::uint64_t section_offset = 0;
  std::size_t header = 0;
  std::uint32_t old_raw_size = 0;
  if (in_place) {
    const PeSection& s = sections[*in_place];
    section_rva = s.virtual_address;
    section_offset = s.raw_offset;
    old_raw_size = s.raw_size;
    header = headers_.section_header_offset(*in_place);
  } else {
    header = headers_.section_header_offset(sections.size());
    if (header + pe_section_header_size > headers_.size_of_headers() || header + pe_section_header_size > first_raw) {
      throw ImageFormatError("has no room for another section header");
    }
    if (sections.size() >= 0xFFFF) throw ImageFormatError("has too many sections");
    section_rva = static_cast<std::uint32_t>(align_up(image_end, headers_.section_alignment()));
    section_offset = align_up(sections_end, headers_.file_alignment());
    out.replace(header, 8, std::string(".rsrc\0\0\0", 8));
    // Tools that find resources by section name (binutils) must find the new ones. The old
    // resources stay mapped, where nothing points any more, but emptied: no stale copy of the
    // launcher's version information, manifest or attached data stays readable in the file.
    const PeDataDirectory old_resources = headers_.directory(pe_resource_directory);
    for (std::size_t i = 0; i < sections.size(); ++i) {
      const PeSection& s = sections[i];
      if (resource_rva == 0 || resource_rva < s.virtual_address || resource_rva - s.virtual_address >= s.raw_size) {
        continue;
      }
      const std::size_t old_header = headers_.section_header_offset(i);
      std::uint64_t start = s.raw_offset + std::uint64_t{resource_rva - s.virtual_address};
      std::uint64_t end = std::min<std::uint64_t>(start + old_resources.size, std::uint64_t{s.raw_offset} + s.raw_size);
      if (image_.compare(old_header, 8, std::string(".rsrc\0\0\0", 8)) == 0) {
        out.replace(old_header, 8, ".oldrsrc");
        start = s.raw_offset;  // a section of its own: all of it held resources
        end = std::uint64_t{s.raw_offset} + s.raw_size;
      }
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(start), out.begin() + static_cast<std::ptrdiff_t>(end), '\0');
    }
    store_little_endian(out, header + 24, 0, 4);
    store_little_endian(out, header + 28, 0, 4);
    store_little_endian(out, header + 32, 0, 4);
    store_little_endian(out, header + 36, initialized_readable_data, 4);
    store_little_endian(out, coff + 2, static_cast<std::uint32_t>(sections.size() + 1), 2);
  }

  // The image up to the new section, the section, then whatever followed the sections.
  out.resize(section_offset, '\0');
  append_resource_section(out, resources_, section_rva);
  const std::uint64_t section_size = out.size() - section_offset;
  const std::uint64_t raw_size = align_up(section_size, headers_.file_alignment());
  if (section_offset + raw_size > 0xFFFFFFFFULL || std::uint64_t{section_rva} + section_size > 0xFFFFFFFFULL) {
    throw ImageFormatError("would be 4 GiB or larger with these resources");
  }
  store_little_endian(out, header + 8, static_cast<std::uint32_t>(section_size), 4);
  store_little_endian(out, header + 12, section_rva, 4);
  store_little_endian(out, header + 16, static_cast<std::uint32_t>(raw_size), 4);
  store_little_endian(out, header + 20, static_cast<std::uint32_t>(section_offset), 4);
  out.resize(section_offset + raw_size, '\0');
  const std::uint64_t overlay_start = out.size();
  out.append(image_, sections_end, overlay_end - sections_end);

  // Symbols that lay after the sections move with them; any other place is gone.
  const std::uint32_t symbols = headers_.file_header().symbol_table;
  if (symbols != 0) {
    if (symbols >= sections_end && symbols < overlay_end) {
      store_little_endian(out, coff + 8, static_cast<std::uint32_t>(symbols - sections_end + overlay_start), 4);
    } else {
      store_little_endian(out, coff + 8, 0, 4);
      store_little_endian(out, coff + 12, 0, 4);
    }
  }

  store_little_endian(out, headers_.directory_entry_offset(pe_resource_directory), section_rva, 4);
  store_little_endian(out, headers_.directory_entry_offset(pe_resource_directory) + 4, static_cast<std::uint32_t>(section_size), 4);
  store_little_endian(out, headers_.directory_entry_offset(pe_certificate_directory), 0, 4);
  store_little_endian(out, headers_.directory_entry_offset(pe_certificate_directory) + 4, 0, 4);
  // Every other section still ends where it did; the resources end where they now end.
  std::uint64_t loaded_end = std::uint64_t{section_rva} + section_size;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (in_place && i == *in_place) continue;
    const PeSection& s = sections[i];
    loaded_end =
        std::max<std::uint64_t>(loaded_end, std::uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
  }
  store_little_endian(out, optional + field::size_of_image, static_cast<std::uint32_t>(align_up(loaded_end, headers_.section_alignment())), 4);
  store_little_endian(out, optional + field::size_of_initialized_data,
        static_cast<std::uint32_t>(headers_.size_of_initialized_data() - old_raw_size + raw_size), 4);
  store_little_endian(out, optional + field::subsystem, subsystem_, 2);
  store_little_endian(out, optional + field::checksum, pe_checksum(out, optional + field::checksum), 4);
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
