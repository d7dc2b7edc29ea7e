// Wide text as four hex digits per UTF-16 unit: the programs under test print what they received
// this way, so every unit (quotes, blanks, unpaired surrogates) compares exactly.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace osvari::testing {

inline std::string hex_units(std::wstring_view text) {
  std::string hex;
  char unit[8];
  for (const wchar_t code : text) {
    std::snprintf(unit, sizeof unit, "%04x", static_cast<unsigned>(code));
    hex += unit;
  }
  return hex;
}

}  // namespace osvari::testing
