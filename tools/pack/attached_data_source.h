// Where the attached data of a file lies: all of an attached-data file, or the RCDATA resource
// 27 of an executable, found by reading its resource directory (no system calls).
#pragma once

#include <cstdint>
#include <filesystem>

namespace osvari::pack {

struct AttachedDataSource {
  std::filesystem::path file;
  std::uint64_t offset = 0;  // of the first header byte in the file
  std::uint64_t size = 0;
  bool in_executable = false;
};

// Throws PackError (bad input) when the file cannot be read, or is an executable without the
// resource, or neither an executable nor something that starts like attached data.
AttachedDataSource locate_attached_data(const std::filesystem::path& file);

}  // namespace osvari::pack
