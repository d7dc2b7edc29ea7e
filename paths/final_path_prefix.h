// Final paths come back in the "\\?\" forms; the rest of the launcher compares and shows plain ones.
#pragma once

#include <string>
#include <string_view>

namespace osvari {

// "\\?\C:\x" becomes "C:\x" (only when a colon follows the drive letter), then
// "\\?\UNC\server\share" becomes "\\server\share". Any other path comes back unchanged.
std::wstring undo_final_path_prefix(std::wstring_view path);

}  // namespace osvari
