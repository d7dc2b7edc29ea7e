// The "\\?\" form of a full path, which the file system takes at any length.
#pragma once

#include <string>
#include <string_view>

namespace osvari {

// "C:\a" -> "\\?\C:\a", "\\server\share\a" -> "\\?\UNC\server\share\a"; forward slashes become
// backslashes, since the prefixed form takes every code unit literally. A path that already
// has the prefix stays as it is; any other form (relative, device) is returned unchanged.
std::wstring extended_length_path(std::wstring_view full_path);

}  // namespace osvari
