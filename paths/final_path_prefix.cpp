#include "paths/final_path_prefix.h"

namespace osvari {
namespace {

constexpr std::wstring_view long_path_prefix = L"\\\\?\\";
constexpr std::wstring_view long_unc_prefix = L"\\\\?\\UNC\\";

}  // namespace

std::wstring undo_final_path_prefix(std::wstring_view path) {
  if (path.starts_with(long_path_prefix) && path.size() > 5 && path[5] == L':') path.remove_prefix(long_path_prefix.size());
  if (path.starts_with(long_unc_prefix)) return L"\\\\" + std::wstring(path.substr(long_unc_prefix.size()));
  return std::wstring(path);
}

}  // namespace osvari
