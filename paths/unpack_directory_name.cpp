#include "paths/unpack_directory_name.h"

#include <limits>

namespace osvari {
namespace {

constexpr std::wstring_view name_prefix = L"onefile_";

// Decimal digits only, at least one, and the value no larger than `limit`.
std::optional<std::uint64_t> parse_number(std::wstring_view text, std::uint64_t limit) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (wchar_t unit : text) {
    if (unit < L'0' || unit > L'9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(unit - L'0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::wstring make_unpack_directory_name(std::uint32_t process_id, std::wstring_view time_stamp) {
  return std::wstring(name_prefix) + std::to_wstring(process_id) + L"_" + std::wstring(time_stamp);
}

std::optional<UnpackDirectoryName> parse_unpack_directory_name(std::wstring_view name) {
  if (!name.starts_with(name_prefix)) return std::nullopt;
  name.remove_prefix(name_prefix.size());
  const std::size_t separator = name.find(L'_');
  if (separator == std::wstring_view::npos) return std::nullopt;
  const auto process_id = parse_number(name.substr(0, separator), std::numeric_limits<std::uint32_t>::max());
  const auto time_stamp = parse_number(name.substr(separator + 1), std::numeric_limits<std::int64_t>::max());
  if (!process_id || !time_stamp) return std::nullopt;
  return UnpackDirectoryName{static_cast<std::uint32_t>(*process_id), *time_stamp};
}

}  // namespace osvari
