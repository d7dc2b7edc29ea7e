// What the fuzz targets share: the run's end as an exception, and UTF-16 from raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/little_endian.h"

namespace osvari::fuzz {

// The launcher ends the process on a foreseen failure or an internal limit; under the fuzzer
// that end comes back to the target as this exception, so one run can follow another.
struct RunEnded : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Little-endian code units, as the attached data and the Windows API carry them; on Linux each
// lands in a 32-bit wchar_t with its value unchanged. A zero unit ends the text.
inline std::wstring wide_text(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<wchar_t>(little_endian_value(data + i, 2));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace osvari::fuzz
