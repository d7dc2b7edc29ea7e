// Writing a whole chunk through a call that may take fewer bytes than it is given.
#pragma once

#include <cstdint>
#include <functional>

namespace osvari {

// One write call: true on success, with the number of bytes it took in `written`.
using WriteCall = std::function<bool(const unsigned char* data, std::uint32_t length, std::uint32_t& written)>;

// Calls `write` until all `length` bytes are taken. Returns false as soon as a call fails or
// takes nothing, so a short write never goes unnoticed.
bool write_completely(const unsigned char* data, std::uint32_t length, const WriteCall& write);

}  // namespace osvari
