// The names of the DLLs a PE image imports, read from its import and delay-load import tables.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/pack/pe/image_bytes.h"

namespace osvari::pack {

// Load-time imports first, then delay-loaded ones, each in table order. No value when the
// image is not a PE image or a table runs outside it.
std::optional<std::vector<std::string>> imported_dll_names(const ImageBytes& bytes);

}  // namespace osvari::pack
