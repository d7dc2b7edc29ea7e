// The first entry must be a DLL the launcher can load and call.
#pragma once

#include <filesystem>

namespace osvari::pack {

// Reads only the PE headers and the export names of `path`. Throws PackError (bad input)
// unless it is an x86-64 DLL exporting run_code.
void check_main_library(const std::filesystem::path& path);

}  // namespace osvari::pack
