// Which entry names may be written below the unpack directory.
#pragma once

#include <string_view>

namespace osvari {

// False for a name that could reach outside the unpack directory or into a file stream:
// a ".." component (with "\" or "/" as separator), a leading separator, or any colon.
bool is_safe_entry_name(std::wstring_view name);

}  // namespace osvari
