// Icon files built in memory: the directory and the image bytes as given.
#pragma once

#include <string>
#include <vector>

#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::testing {

struct IconImage {
  unsigned size;  // width and height in pixels
  std::string bytes;
};

inline std::string build_icon_file(const std::vector<IconImage>& images) {
  std::string file(6 + 16 * images.size(), '\0');
  put_u16(file, 2, 1);
  put_u16(file, 4, static_cast<std::uint16_t>(images.size()));
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::size_t entry = 6 + 16 * i;
    file[entry] = static_cast<char>(images[i].size);
    file[entry + 1] = static_cast<char>(images[i].size);
    put_u16(file, entry + 4, 1);   // planes
    put_u16(file, entry + 6, 32);  // bits per pixel
    put_u32(file, entry + 8, static_cast<std::uint32_t>(images[i].bytes.size()));
    put_u32(file, entry + 12, static_cast<std::uint32_t>(file.size()));
    file += images[i].bytes;
  }
  return file;
}

}  // namespace osvari::testing
