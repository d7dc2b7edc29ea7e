#include "tools/pack/attached_data/cache_index_writer.h"

#include <limits>

#include "base/little_endian.h"
#include "payload/cache_index.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::pack {
namespace {

}  // namespace

std::string attached_data_id(std::string_view stream) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char byte : stream) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211ull;
  }
  constexpr char digits[] = "0123456789abcdef";
  std::string id(cache_id_digits, '0');
  for (std::size_t i = 0; i < cache_id_digits; ++i) id[cache_id_digits - 1 - i] = digits[(hash >> (4 * i)) & 0xF];
  return id;
}

std::string cache_index_frame(std::string_view id, const std::vector<IndexedEntry>& entries) {
  std::string record(cache_index_tag, sizeof cache_index_tag);
  record.push_back(static_cast<char>(cache_index_version));
  record.append(id);
  append_little_endian(record, entries.size(), 4);
  for (const IndexedEntry& entry : entries) {
    if (entry.name.size() > std::numeric_limits<std::uint16_t>::max()) {
      throw CompressionError("an entry name is too long for the cache index");
    }
    append_little_endian(record, entry.name.size(), 2);
    for (const char16_t unit : entry.name) append_little_endian(record, unit, 2);
    append_little_endian(record, entry.size, 8);
  }
  if (record.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw CompressionError("too many entries for the cache index");
  }
  std::string frame;
  append_little_endian(frame, cache_index_frame_magic, 4);
  append_little_endian(frame, record.size(), 4);
  frame.append(record);
  return frame;
}

}  // namespace osvari::pack
