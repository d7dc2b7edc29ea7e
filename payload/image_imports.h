// The names of the DLLs a Windows image imports, read from its file with every offset checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace osvari {

// Reads up to `length` bytes at `offset` into `into`; returns how many it read (0 past the end).
using ReadImageBytes = std::function<std::size_t(std::uint64_t offset, unsigned char* into, std::size_t length)>;

inline constexpr std::size_t max_imported_dlls = 512;
inline constexpr std::size_t max_imported_dll_name = 255;

// The DLL names of the import directory, in its order; none when the image is not a PE file, its
// headers or import directory lie outside the file or outside every section, a name is not
// printable ASCII of at most max_imported_dll_name characters, or there are more than
// max_imported_dlls before the closing descriptor. An image without imports gives an empty list.
std::optional<std::vector<std::string>> read_imported_dll_names(const ReadImageBytes& read);

}  // namespace osvari
