// The attached data of a file: all of an attached-data file, or the RCDATA resource 27 of an
// executable, read through the packer's own resource reader (no system calls).
#pragma once

#include <filesystem>
#include <string>

namespace osvari::pack {

struct AttachedDataSource {
  std::filesystem::path file;  // for messages
  std::string bytes;
  bool in_executable = false;
};

// Throws PackError (bad input) when the file cannot be read, or is an executable without the
// resource (or a damaged one), or neither an executable nor something that starts like attached data.
AttachedDataSource read_attached_data_of(const std::filesystem::path& file);

}  // namespace osvari::pack
