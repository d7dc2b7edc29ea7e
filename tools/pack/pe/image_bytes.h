// The bytes of an image to look inside: held in memory, or read from a file on demand so that
// a large library is never loaded whole. Every read is checked against the size here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace osvari::pack {

class ImageBytes {
 public:
  // Copies `destination.size()` bytes from `offset`, which lie within the size.
  using ReadAt = std::function<bool(std::uint64_t offset, std::span<unsigned char> destination)>;

  ImageBytes(std::uint64_t size, ReadAt read_at) : size_(size), read_at_(std::move(read_at)) {}

  // `bytes` must outlive the result.
  static ImageBytes in_memory(std::string_view bytes);
  // No value when the file cannot be opened.
  static std::optional<ImageBytes> from_file(const std::filesystem::path& path);

  std::uint64_t size() const { return size_; }
  bool contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  // False when the bytes are not all within the image.
  bool read(std::uint64_t offset, std::span<unsigned char> destination) const;
  std::optional<std::uint16_t> u16(std::uint64_t offset) const;
  std::optional<std::uint32_t> u32(std::uint64_t offset) const;

 private:
  std::uint64_t size_;
  ReadAt read_at_;
};

}  // namespace osvari::pack
