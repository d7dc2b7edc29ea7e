// Naming the DLL that kept an image from loading: the first import found neither in the
// image's folder nor by the system's search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace osvari {

struct MissingImport {
  std::string dll;          // as the import names it
  std::string imported_by;  // the file name of the image that imports it
};

inline constexpr std::size_t max_images_examined = 64;

// Follows the imports of `image_path` and of the DLLs found beside it (its folder is where the
// loader looks first), at most max_images_examined images; none when every import is found, or
// an image cannot be read.
std::optional<MissingImport> find_missing_import(const std::wstring& image_path);

// "Missing DLL: x.dll (imported by app.dll)", the line that follows the load failure's report.
std::string missing_import_line(const MissingImport& missing);

// For a load of `image_path` that failed with system error `code`: that line when the code says a
// module was not found (126) and one of the imports is missing; empty otherwise.
std::string missing_import_report(std::uint32_t code, const std::wstring& image_path);

}  // namespace osvari
