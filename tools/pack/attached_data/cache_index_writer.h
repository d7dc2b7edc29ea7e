// Writing the cache index (payload/cache_index.h) of attached data packed for the extraction
// cache.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace osvari::pack {

struct IndexedEntry {
  std::u16string name;
  std::uint64_t size = 0;
};

// 16 lower-case hex digits of the 64-bit FNV-1a hash of `stream`: the compressed entries that
// follow the cache index.
std::string attached_data_id(std::string_view stream);

// The skippable frame that holds the record: tag, version, id and every entry's name and size.
// Throws CompressionError when the entries do not fit in one frame.
std::string cache_index_frame(std::string_view id, const std::vector<IndexedEntry>& entries);

}  // namespace osvari::pack
