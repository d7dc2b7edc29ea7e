#include "tests/support/payload_builder.h"

#include <algorithm>

#include "payload/application_kind.h"
#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/attached_data/cache_index_writer.h"

namespace osvari::testing {

std::string decoded_stream(const std::vector<TestEntry>& entries, bool with_terminator) {
  std::string stream;
  for (const auto& entry : entries) {
    pack::append_entry_prefix(stream, entry.name, entry.contents.size());
    stream += entry.contents;
  }
  if (with_terminator) pack::append_terminator(stream);
  return stream;
}

std::string attached_data_from_stream(const std::string& decoded) {
  return pack::wrap_attached_data(pack::compress_frame(decoded, {.level = 1}));
}

std::string attached_data_for(const std::vector<TestEntry>& entries) {
  return attached_data_from_stream(decoded_stream(entries));
}

std::string cached_attached_data_for(const std::vector<TestEntry>& entries) {
  const std::string frame = pack::compress_frame(decoded_stream(entries), {.level = 1});
  std::vector<pack::IndexedEntry> index;
  for (const TestEntry& entry : entries) index.push_back({entry.name, entry.contents.size()});
  return pack::wrap_attached_data(pack::cache_index_frame(pack::attached_data_id(frame), index) + frame);
}

std::string program_attached_data_for(const std::vector<TestEntry>& entries) {
  return pack::wrap_attached_data(program_kind_frame() + pack::compress_frame(decoded_stream(entries), {.level = 1}));
}

std::string cached_program_attached_data_for(const std::vector<TestEntry>& entries) {
  const std::string stream = program_kind_frame() + pack::compress_frame(decoded_stream(entries), {.level = 1});
  std::vector<pack::IndexedEntry> index;
  for (const TestEntry& entry : entries) index.push_back({entry.name, entry.contents.size()});
  return pack::wrap_attached_data(pack::cache_index_frame(pack::attached_data_id(stream), index) + stream);
}

// Period 251 within each 4 GiB and a step at every 4 GiB, so a position taken modulo 2^32
// shows.
char generated_byte(std::uint64_t offset) {
  return static_cast<char>((offset % 251) + (offset >> 32) * 17);
}

std::string attached_data_generated(const std::vector<GeneratedEntry>& entries) {
  std::string stream;
  pack::FrameCompressor compressor({.level = 1}, [&](std::string_view chunk) { stream.append(chunk); });
  std::string piece;
  for (const GeneratedEntry& entry : entries) {
    piece.clear();
    pack::append_entry_prefix(piece, entry.name, entry.literal.empty() ? entry.size : entry.literal.size());
    compressor.write(piece);
    if (!entry.literal.empty()) {
      compressor.write(entry.literal);
      continue;
    }
    for (std::uint64_t offset = 0; offset < entry.size;) {
      const std::uint64_t count = std::min<std::uint64_t>(entry.size - offset, 1 << 20);
      piece.resize(count);
      // Pieces start at multiples of 1 MiB, so none spans a 4 GiB step.
      const auto step = static_cast<unsigned>((offset >> 32) * 17);
      unsigned remainder = static_cast<unsigned>(offset % 251);
      for (std::uint64_t i = 0; i < count; ++i) {
        piece[i] = static_cast<char>(remainder + step);
        if (++remainder == 251) remainder = 0;
      }
      compressor.write(piece);
      offset += count;
    }
  }
  piece.clear();
  pack::append_terminator(piece);
  compressor.write(piece);
  compressor.finish();
  return pack::wrap_attached_data(stream);
}

ResourceBytes as_resource(const std::string& bytes) {
  return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

std::string varied_bytes(std::size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace osvari::testing
