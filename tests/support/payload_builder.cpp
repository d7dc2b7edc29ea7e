#include "tests/support/payload_builder.h"

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
