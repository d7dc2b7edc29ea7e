// Warnings about DLLs that a packed DLL imports but that will not be there at run time.
#pragma once

#include <ostream>
#include <string_view>
#include <vector>

#include "tools/pack/inputs/pack_inputs.h"

namespace osvari::pack {

// Part of every Windows installation: a known system DLL, or an api-ms-win-* / ext-ms-* API set.
// `name` is a file name in any letter case.
bool is_windows_dll(std::string_view name);

// For the first entry (the main library or a program) and every other entry whose name ends in
// ".dll" and that is a PE image: one warning line on `out` for each imported DLL that is neither
// part of Windows nor packed where the loader looks (beside the importing DLL, or beside the
// first entry, whose folder the loader searches and whose dependencies stay loaded). Packing
// goes on.
void warn_about_missing_imports(const std::vector<PackEntry>& entries, std::ostream& out);

}  // namespace osvari::pack
