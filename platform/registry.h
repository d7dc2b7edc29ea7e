// Small values kept in the current user's registry (HKEY_CURRENT_USER), outside any folder.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace osvari {

// Creates `key` when missing and sets the binary value `name` in it.
bool write_user_value(const wchar_t* key, const wchar_t* name, const void* data, std::uint32_t size);
// The binary value `name` in `key`; no value when either is missing or the value is not binary.
std::optional<std::vector<unsigned char>> read_user_value(const wchar_t* key, const wchar_t* name);
void delete_user_value(const wchar_t* key, const wchar_t* name);

}  // namespace osvari
