#include "payload/entry_name.h"

namespace osvari {
namespace {

bool is_separator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

}  // namespace

bool is_safe_entry_name(std::wstring_view name) {
  if (name.empty() || is_separator(name.front())) return false;
  if (name.find(L':') != std::wstring_view::npos) return false;
  std::size_t component_start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || is_separator(name[i])) {
      if (name.substr(component_start, i - component_start) == L"..") return false;
      component_start = i + 1;
    }
  }
  return true;
}

}  // namespace osvari
