#include "platform/registry.h"

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

std::optional<std::vector<unsigned char>> read_user_value(const wchar_t* key, const wchar_t* name) {
  std::vector<unsigned char> value(64);
  for (;;) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(value.size());
    const LSTATUS got = RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_BINARY, &type, value.data(), &size);
    if (got == ERROR_MORE_DATA) {
      value.resize(size);
      continue;
    }
    if (got != ERROR_SUCCESS) return std::nullopt;
    value.resize(size);
    return value;
  }
}

void delete_user_value(const wchar_t* key, const wchar_t* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
  RegDeleteValueW(opened, name);
  RegCloseKey(opened);
}

}  // namespace osvari
