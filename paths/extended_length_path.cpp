#include "paths/extended_length_path.h"

#include <algorithm>

namespace osvari {
namespace {

bool is_drive_letter(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z'); }

}  // namespace

std::wstring extended_length_path(std::wstring_view full_path) {
  std::wstring path(full_path);
  if (path.starts_with(L"\\\\?\\")) return path;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.size() >= 3 && is_drive_letter(path[0]) && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.size() > 2 && path.starts_with(L"\\\\") && path[2] != L'?' && path[2] != L'.') {
    return L"\\\\?\\UNC\\" + path.substr(2);
  }
  return std::wstring(full_path);
}

}  // namespace osvari
