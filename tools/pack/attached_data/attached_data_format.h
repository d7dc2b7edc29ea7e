// Writing attached data: the header, the compressed stream of file entries, the trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "payload/attached_data_layout.h"

namespace osvari::pack {

inline constexpr int default_compression_level = 19;
inline constexpr int window_log = 27;  // 128 MiB: window descriptor byte 0x88

// The decoded form of one entry up to its contents: the UTF-16LE name, its zero code unit
// and the 64-bit little-endian size.
void append_entry_prefix(std::string& stream, std::u16string_view name, std::uint64_t size);

// The empty name that ends the entries.
void append_terminator(std::string& stream);

struct CompressionOptions {
  int level = default_compression_level;
  int workers = 0;  // 0: single-threaded; more where libzstd was built with threads
  // The frame's content checksum, which the launcher verifies before it runs anything.
  bool checksum = true;
};

// Compresses everything written to it into a single Zstandard frame without content size or
// dictionary id, with the 128 MiB window and (as asked) the content checksum, and hands the
// output to `sink`.
class FrameCompressor {
 public:
  using Sink = std::function<void(std::string_view)>;
  FrameCompressor(const CompressionOptions& options, Sink sink);
  ~FrameCompressor();
  FrameCompressor(const FrameCompressor&) = delete;
  FrameCompressor& operator=(const FrameCompressor&) = delete;

  void write(std::string_view bytes);
  void finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Thrown when libzstd refuses a parameter or fails to compress.
struct CompressionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string compress_frame(std::string_view decoded, const CompressionOptions& options = {});

// Five zero bytes, then the 64-bit little-endian count of attached data bytes before it.
std::string trailer_for(std::uint64_t bytes_before_trailer);

// Header, the compressed stream as given, and the trailer.
std::string wrap_attached_data(std::string_view compressed_stream);

}  // namespace osvari::pack
