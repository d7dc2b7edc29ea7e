// Image files decoded by the system's own codecs (WIC), for the progress window's splash image.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace osvari {

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // top-down rows, premultiplied BGRA
};

// Decodes the first frame of `file` (PNG, JPEG, BMP, GIF or anything else the system knows),
// scaled down to fit `max_width` by `max_height` if larger; none when the system cannot.
std::optional<DecodedImage> decode_image(std::span<const unsigned char> file, int max_width, int max_height);

}  // namespace osvari
