// Little-endian fields, read from and written to bytes: the one set of helpers the launcher,
// the packing tool and the tests use for every on-disk number. Callers check bounds first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace osvari {

// The value of `count` bytes (at most 8) at `bytes`, least significant first.
constexpr std::uint64_t little_endian_value(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

// The value of all of `bytes` (at most 8).
inline std::uint64_t little_endian_value(std::string_view bytes) {
  return little_endian_value(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

inline std::uint16_t little_endian_u16(std::string_view bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(little_endian_value(bytes.substr(offset, 2)));
}

inline std::uint32_t little_endian_u32(std::string_view bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(little_endian_value(bytes.substr(offset, 4)));
}

// Writes the low `count` bytes of `value` at `destination`.
constexpr void store_little_endian(char* destination, std::uint64_t value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) destination[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Overwrites `count` bytes of `out` at `offset`, which must lie within it.
inline void store_little_endian(std::string& out, std::size_t offset, std::uint64_t value, std::size_t count) {
  store_little_endian(out.data() + offset, value, count);
}

inline void append_little_endian(std::string& out, std::uint64_t value, std::size_t count) {
  const std::size_t end = out.size();
  out.resize(end + count);
  store_little_endian(out.data() + end, value, count);
}

}  // namespace osvari
