// Editing a PE32+ image as the packer needs: its resources and its subsystem. It builds on the
// headers the reader parsed; writing rebuilds the resource section as the last section and keeps
// every other byte where the loader wants it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/pe/pe_reader.h"
#include "tools/pack/pe/pe_resources.h"

namespace osvari::pack {

inline constexpr std::uint16_t subsystem_windows_gui = 2;
inline constexpr std::uint16_t subsystem_windows_console = 3;

class PeEditor {
 public:
  // Reads the headers and the resource tree of `image`. The bytes are untrusted: anything
  // outside the file or malformed throws ImageFormatError saying what is wrong.
  explicit PeEditor(std::string image);

  ResourceTable& resources() { return resources_; }
  const ResourceTable& resources() const { return resources_; }

  bool is_dll() const { return headers_.file_header().is_dll(); }
  std::uint16_t subsystem() const { return subsystem_; }
  void set_subsystem(std::uint16_t subsystem) { subsystem_ = subsystem; }
  // A certificate table (an Authenticode signature): editing breaks it, so write() drops it.
  bool has_signature() const { return headers_.directory(pe_certificate_directory).size != 0; }

  // The edited image. When the resource section is the last one it is rewritten in place;
  // otherwise a new last section holds the resources and the old one stays unused. Data after
  // the last section (a symbol table, appended data) is kept and the symbol table pointer
  // follows it; the PE checksum is computed afresh. Throws ImageFormatError when there is no
  // room for another section header or the resources exceed what a section can hold.
  std::string write() const;

 private:
  std::string image_;
  PeHeaders headers_;
  std::uint16_t subsystem_ = 0;
  ResourceTable resources_;
};

// The PE checksum of `image`, whose checksum field lies at `checksum_offset`.
std::uint32_t pe_checksum(std::string_view image, std::size_t checksum_offset);

}  // namespace osvari::pack
