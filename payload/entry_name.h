// Which entry names may be written below the unpack directory: one rule set, pure and
// header-only, so that the launcher and the packing tool judge names alike on any host.
#pragma once

#include <string_view>

namespace osvari {

// What is wrong with an entry name, or with one component of it (the text between backslashes).
enum class EntryNameProblem {
  none,
  empty_component,        // "", or a leading, trailing or doubled backslash
  dot_component,          // "."
  dot_dot_component,      // "..": would reach outside the unpack directory
  device_name,            // "NUL", "com1.log", "CON .txt": Windows opens a device instead
  ends_in_dot_or_space,   // Windows drops them, so "v." and "v" would be one file
  separator,              // "/" (names use backslashes only) or, inside a component, "\"
  colon,                  // a drive or a file stream
  reserved_character,     // < > " | ? *
  control_character,      // codes 1 to 31
  zero_character,
};

namespace entry_name_detail {

constexpr char32_t ascii_upper(char32_t unit) { return unit >= U'a' && unit <= U'z' ? unit - U'a' + U'A' : unit; }

// `text` equals `upper` (ASCII capitals and symbols) without regard to ASCII letter case.
template <typename Char>
constexpr bool equals_ignoring_case(std::basic_string_view<Char> text, std::u32string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_upper(static_cast<char32_t>(text[i])) != upper[i]) return false;
  }
  return true;
}

// Windows takes the part before the first dot, without its trailing spaces, as the device
// name; digits 0-9 and the superscripts 1-3 (U+00B9, U+00B2, U+00B3) make COM and LPT ports.
template <typename Char>
constexpr bool is_device_name(std::basic_string_view<Char> component) {
  std::basic_string_view<Char> base = component.substr(0, component.find(Char('.')));
  while (!base.empty() && base.back() == Char(' ')) base.remove_suffix(1);
  for (std::u32string_view device : {U"CON", U"PRN", U"AUX", U"NUL", U"CONIN$", U"CONOUT$"}) {
    if (equals_ignoring_case(base, device)) return true;
  }
  if (base.size() != 4) return false;
  if (!equals_ignoring_case(base.substr(0, 3), U"COM") && !equals_ignoring_case(base.substr(0, 3), U"LPT")) {
    return false;
  }
  const auto port = static_cast<char32_t>(base[3]);
  return (port >= U'0' && port <= U'9') || port == U'\u00B9' || port == U'\u00B2' || port == U'\u00B3';
}

}  // namespace entry_name_detail

template <typename Char>
constexpr EntryNameProblem entry_component_problem(std::basic_string_view<Char> component) {
  if (component.empty()) return EntryNameProblem::empty_component;
  for (const Char unit : component) {
    const auto value = static_cast<char32_t>(unit);
    if (value == 0) return EntryNameProblem::zero_character;
    if (value < 32) return EntryNameProblem::control_character;
    if (value == U'\\' || value == U'/') return EntryNameProblem::separator;
    if (value == U':') return EntryNameProblem::colon;
    if (std::u32string_view(U"<>\"|?*").find(value) != std::u32string_view::npos) {
      return EntryNameProblem::reserved_character;
    }
  }
  if (component.size() == 1 && component[0] == Char('.')) return EntryNameProblem::dot_component;
  if (component.size() == 2 && component[0] == Char('.') && component[1] == Char('.')) {
    return EntryNameProblem::dot_dot_component;
  }
  if (component.back() == Char('.') || component.back() == Char(' ')) return EntryNameProblem::ends_in_dot_or_space;
  if (entry_name_detail::is_device_name(component)) return EntryNameProblem::device_name;
  return EntryNameProblem::none;
}

// The first problem of any component of `name`, split at backslashes.
template <typename Char>
constexpr EntryNameProblem entry_name_problem(std::basic_string_view<Char> name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find(Char('\\'), start);
    const EntryNameProblem problem = entry_component_problem(name.substr(start, end - start));
    if (problem != EntryNameProblem::none || end == std::basic_string_view<Char>::npos) return problem;
    start = end + 1;
  }
}

// True for a name that stays inside the unpack directory and that Windows stores as it is.
inline bool is_safe_entry_name(std::wstring_view name) { return entry_name_problem(name) == EntryNameProblem::none; }

}  // namespace osvari
