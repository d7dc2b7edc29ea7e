#include "payload/complete_write.h"

#include <algorithm>

namespace osvari {

bool write_completely(const unsigned char* data, std::uint32_t length, const WriteCall& write) {
  while (length > 0) {
    std::uint32_t written = 0;
    if (!write(data, length, written) || written == 0) return false;
    written = std::min(written, length);
    data += written;
    length -= written;
  }
  return true;
}

}  // namespace osvari
