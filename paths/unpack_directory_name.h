// The shape of an unpack directory's name, "onefile_<process id>_<time stamp>": made by the
// parent and by the cache's fill, read back by the sweep of finished runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace osvari {

// Where a run unpacks: the temporary directory and a name of the shape below.
inline constexpr const wchar_t* unpack_directory_spec = L"{TEMP}\\onefile_{PID}_{TIME}";

// What a directory listing asks for to find names of that shape.
inline constexpr const wchar_t* unpack_directory_pattern = L"onefile_*";

struct UnpackDirectoryName {
  std::uint32_t process_id = 0;
  std::uint64_t time_stamp = 0;
};

// The name a run with this process id and time stamp gives its directory.
std::wstring make_unpack_directory_name(std::uint32_t process_id, std::wstring_view time_stamp);

// "onefile_<digits>_<digits>" and nothing else, with the process id within 32 bits and the
// time stamp within 63 bits, as the launcher names its directories.
std::optional<UnpackDirectoryName> parse_unpack_directory_name(std::wstring_view name);

}  // namespace osvari
