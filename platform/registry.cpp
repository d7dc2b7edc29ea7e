#include "platform/registry.h"

#include <vector>

#include "platform/win32.h"

namespace osvari {

bool write_user_value(const wchar_t* key, const wchar_t* name, const void* data, std::uint32_t size) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS set = RegSetValueExW(opened, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
  RegCloseKey(opened);
  return set == ERROR_SUCCESS;
}

std::optional<std::size_t> read_user_value(const wchar_t* key, const wchar_t* name, std::span<unsigned char> buffer) {
  DWORD size = static_cast<DWORD>(buffer.size());
  // A value larger than the buffer answers ERROR_MORE_DATA and is never read.
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_BINARY, nullptr, buffer.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return size;
}

void delete_user_value(const wchar_t* key, const wchar_t* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
  RegDeleteValueW(opened, name);
  RegCloseKey(opened);
}

std::uint32_t user_value_count(const wchar_t* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  if (RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    count = 0;
  }
  RegCloseKey(opened);
  return count;
}

std::optional<std::wstring> user_value_name(const wchar_t* key, std::uint32_t index, std::size_t longest_name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return std::nullopt;
  std::vector<wchar_t> name(longest_name + 1);
  DWORD length = static_cast<DWORD>(name.size());
  const LSTATUS got = RegEnumValueW(opened, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(opened);
  if (got != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(name.data(), length);
}

}  // namespace osvari
