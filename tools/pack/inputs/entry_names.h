// Entry names: file names turned into the launcher's UTF-16 names with backslash separators.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osvari::pack {

// The name buffer of the launcher holds 1024 code units with the zero unit.
inline constexpr std::size_t max_entry_name_length = 1023;

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); no value otherwise.
std::optional<std::u16string> utf8_to_utf16(std::string_view text);
// For messages: unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Why `component` cannot be one component of an entry name ("contains a backslash", ...);
// empty when it can.
std::string name_component_problem(std::u16string_view component);

// `name` as Windows compares file names, by the launcher's own rule (fold_entry_name): letters
// of the Latin-1, Latin Extended-A, Greek and Cyrillic blocks and of the fullwidth forms turned
// to upper case, one code unit at a time. Letters outside those blocks stay as they are.
std::u16string fold_letter_case(std::u16string_view name);

// Whether `name` ends in ".dll" in any letter case, as a name the loader takes for a DLL.
bool ends_in_dll(std::u16string_view name);

// The entry name of `components` (file names, outermost first), joined with backslashes.
// Throws PackError (bad input) naming `source` when a component is not valid UTF-8 (POSIX),
// fails name_component_problem, or the name is longer than max_entry_name_length.
std::u16string make_entry_name(const std::vector<std::filesystem::path>& components,
                               const std::filesystem::path& source);

// A path as text for messages and for building paths from arguments: UTF-8 on Windows,
// the system's bytes elsewhere.
std::string display_path(const std::filesystem::path& path);
std::filesystem::path path_from_argument(const std::string& argument);

}  // namespace osvari::pack
