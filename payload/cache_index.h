// The cache index: a record in a Zstandard skippable frame at the start of the attached data's
// stream, written when an application is packed for the extraction cache. It names the
// payload (16 hex digits of a hash of the rest of the attached data) and lists every entry's
// name and size, so a start can check a cache folder without decoding anything. Decoders skip
// such frames, so readers that do not know it still find the entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace osvari {

// Little-endian magic of the skippable frame (one of 0x184D2A50..5F), the record's tag and
// its version.
inline constexpr std::uint32_t cache_index_frame_magic = 0x184D2A5C;
inline constexpr char cache_index_tag[4] = {'O', 'S', 'V', 'C'};
inline constexpr unsigned char cache_index_version = 1;
inline constexpr std::size_t cache_id_digits = 16;

struct CacheIndexEntry {
  std::wstring name;  // as in the stream: backslashes between folders
  std::uint64_t size = 0;
};

struct CacheIndex {
  std::wstring id;  // 16 lower-case hex digits
  std::vector<CacheIndexEntry> entries;
};

enum class CacheIndexStatus {
  absent,     // no cache index: the application unpacks into a fresh folder each run
  malformed,  // a record with our tag that does not parse, or names an unsafe or no entry
  present,
};

struct CacheIndexResult {
  CacheIndexStatus status = CacheIndexStatus::absent;
  CacheIndex index;
};

// Reads the record from the compressed stream (the attached data after its header). Only the
// record's own bytes are read; a skippable frame of another tag counts as absent.
CacheIndexResult read_cache_index(const unsigned char* stream, std::size_t size);

}  // namespace osvari
