// The version information resource (RT_VERSION) that Explorer's file properties show.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace osvari::pack {

struct VersionInformation {
  std::u16string company;    // CompanyName; left out when empty
  std::u16string product;    // ProductName and FileDescription; the file's stem when empty
  std::u16string version;    // FileVersion and ProductVersion as given; left out when empty
  std::u16string file_name;  // OriginalFilename; its stem is the InternalName
};

// The four numbers of the fixed part from one to four decimal numbers of 0 to 65535 separated by
// dots ("2.1" gives 2.1.0.0); nothing for any other text ("2.1.0-rc3", "1..2", "1.2.3.4.5").
std::optional<std::array<std::uint16_t, 4>> version_numbers(std::u16string_view text);

// Each node of the block starts with its length in 16 bits.
inline constexpr std::size_t max_version_resource_size = 0xFFFF;

// A complete VS_VERSIONINFO block: the fixed part (an application for Windows NT), U.S. English
// strings in UTF-16 (block 040904B0) and the matching translation. Nothing when the texts make
// it longer than max_version_resource_size.
std::optional<std::string> build_version_resource(const VersionInformation& information);

}  // namespace osvari::pack
