#include "tools/pack/inputs/entry_name_check.h"

#include "payload/entry_name.h"
#include "tools/pack/inputs/entry_names.h"

namespace osvari::pack {

std::string entry_name_problem(std::u16string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > max_entry_name_length) {
    return "is longer than " + std::to_string(max_entry_name_length) + " UTF-16 code units";
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find(u'\\', start);
    const std::u16string_view component =
        name.substr(start, end == std::u16string_view::npos ? name.npos : end - start);
    if (std::string problem = name_component_problem(component); !problem.empty()) {
      return "has a component that " + problem;
    }
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  // The launcher's own test, on the name as it would see it (wchar_t is wider off Windows).
  const std::wstring wide(name.begin(), name.end());
  if (!is_safe_entry_name(wide)) return "could reach outside the folder it is unpacked into";
  return {};
}

std::string printable_entry_name(std::u16string_view name) {
  std::string text = utf16_to_utf8(name);
  for (char& byte : text) {
    if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) byte = '?';
  }
  return text;
}

}  // namespace osvari::pack
