// What the fake platform offers the fuzz targets beyond the platform's own interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace osvari {

// The arguments CommandLineToArgvW would split from `line` (argument 0 without escapes, the
// rest with its backslash and quote rules); an empty line gives the program path alone.
std::vector<std::wstring> split_command_line(std::wstring_view line);

}  // namespace osvari
