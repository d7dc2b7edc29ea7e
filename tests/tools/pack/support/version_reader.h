// Reads a VS_VERSIONINFO block back the way Windows does, for the tests of what the packer writes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace osvari::testing {

struct VersionBlock {
  std::array<std::uint16_t, 4> file_version{};
  std::array<std::uint16_t, 4> product_version{};
  std::uint32_t file_type = 0;
  std::map<std::u16string, std::u16string> strings;  // of the first string table
  std::u16string string_table;                       // its key, such as u"040904B0"
  std::uint32_t translation = 0;                     // language, then code page << 16
};

// Fails the current test and returns what it read so far when the block is malformed.
VersionBlock read_version_block(std::string_view block);

}  // namespace osvari::testing
