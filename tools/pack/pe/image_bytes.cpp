#include "tools/pack/pe/image_bytes.h"

#include <array>
#include <cstring>
#include <fstream>
#include <memory>

#include "base/little_endian.h"

namespace osvari::pack {

ImageBytes ImageBytes::in_memory(std::string_view bytes) {
  return ImageBytes(bytes.size(), [bytes](std::uint64_t offset, std::span<unsigned char> destination) {
    std::memcpy(destination.data(), bytes.data() + offset, destination.size());
    return true;
  });
}

std::optional<ImageBytes> ImageBytes::from_file(const std::filesystem::path& path) {
  auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
  if (!*file) return std::nullopt;
  file->seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(file->tellg());
  return ImageBytes(size, [file](std::uint64_t offset, std::span<unsigned char> destination) {
    file->clear();
    file->seekg(static_cast<std::streamoff>(offset));
    file->read(reinterpret_cast<char*>(destination.data()), static_cast<std::streamsize>(destination.size()));
    return file->gcount() == static_cast<std::streamsize>(destination.size());
  });
}

bool ImageBytes::read(std::uint64_t offset, std::span<unsigned char> destination) const {
  return contains(offset, destination.size()) && read_at_(offset, destination);
}

std::optional<std::uint16_t> ImageBytes::u16(std::uint64_t offset) const {
  std::array<unsigned char, 2> bytes{};
  if (!read(offset, bytes)) return std::nullopt;
  return static_cast<std::uint16_t>(little_endian_value(bytes.data(), bytes.size()));
}

std::optional<std::uint32_t> ImageBytes::u32(std::uint64_t offset) const {
  std::array<unsigned char, 4> bytes{};
  if (!read(offset, bytes)) return std::nullopt;
  return static_cast<std::uint32_t>(little_endian_value(bytes.data(), bytes.size()));
}

}  // namespace osvari::pack
