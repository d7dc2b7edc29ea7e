// Whether a name read from attached data can be unpacked: the one place that asks both the
// packer's and the launcher's name rules, so inspection never keeps rules of its own.
#pragma once

#include <string>
#include <string_view>

namespace osvari::pack {

// Why the whole entry name `name` (backslash separators) could not be unpacked safely, as a
// phrase after the quoted name ("contains a colon", ...); empty when it can.
std::string entry_name_problem(std::u16string_view name);

// The name as text for messages and listings: UTF-8, control characters shown as '?'.
std::string printable_entry_name(std::u16string_view name);

}  // namespace osvari::pack
