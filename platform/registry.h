// Small values kept in the current user's registry (HKEY_CURRENT_USER), outside any folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace osvari {

// Creates `key` when missing and sets the binary value `name` in it.
bool write_user_value(const wchar_t* key, const wchar_t* name, const void* data, std::uint32_t size);
// Reads the binary value `name` of `key` into `buffer`: its size, or no value when either is
// missing, the value is not binary or it does not fit.
std::optional<std::size_t> read_user_value(const wchar_t* key, const wchar_t* name, std::span<unsigned char> buffer);
void delete_user_value(const wchar_t* key, const wchar_t* name);

// The number of values in `key`; 0 when it is missing.
std::uint32_t user_value_count(const wchar_t* key);

// The name of the value at `index` in `key`, in the order the registry keeps them; no value
// past the last one or when the name is longer than `longest_name` units.
std::optional<std::wstring> user_value_name(const wchar_t* key, std::uint32_t index, std::size_t longest_name);

}  // namespace osvari
