// Letter case in entry names as Windows compares file names: one rule, pure and header-only, so
// that the launcher and the packing tool take the same names for one file.
#pragma once

#include <string>
#include <string_view>

namespace osvari {

// `unit` in upper case: letters of the Latin-1, Latin Extended-A, Greek and Cyrillic blocks and
// of the fullwidth forms, one code unit at a time. Letters outside those blocks stay as they are.
constexpr char16_t upper_case_name_unit(char16_t unit) {
  const auto shifted = [unit](int by) { return static_cast<char16_t>(unit - by); };
  // Pairs of capital (even) and small (odd) letter, or the other way round.
  const auto pair = [unit](bool capital_is_even) {
    return static_cast<char16_t>((unit % 2 == 0) == capital_is_even ? unit : unit - 1);
  };
  if (unit >= u'a' && unit <= u'z') return shifted(0x20);
  if (unit < 0xE0) return unit;
  if (unit <= 0xFE) return unit == 0xF7 ? unit : shifted(0x20);  // U+00F7 is the division sign
  if (unit == 0xFF) return 0x178;
  if (unit >= 0x100 && unit <= 0x137) return pair(true);
  if (unit >= 0x139 && unit <= 0x148) return pair(false);
  if (unit >= 0x14A && unit <= 0x177) return pair(true);
  if (unit >= 0x179 && unit <= 0x17E) return pair(false);
  if (unit >= 0x3B1 && unit <= 0x3CB) return unit == 0x3C2 ? char16_t{0x3A3} : shifted(0x20);  // final sigma
  if (unit >= 0x430 && unit <= 0x44F) return shifted(0x20);
  if (unit >= 0x450 && unit <= 0x45F) return shifted(0x50);
  if (unit >= 0x460 && unit <= 0x481) return pair(true);
  if (unit >= 0x48A && unit <= 0x4BF) return pair(true);
  if (unit >= 0xFF41 && unit <= 0xFF5A) return shifted(0x20);
  return unit;
}

// `name` (UTF-16 code units, also when held in 32-bit wchar_t) with every unit in upper case,
// into `folded`, whose room is kept for the next name.
template <typename Char>
void fold_entry_name(std::basic_string_view<Char> name, std::u16string& folded) {
  folded.resize(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) folded[i] = upper_case_name_unit(static_cast<char16_t>(name[i]));
}

}  // namespace osvari
