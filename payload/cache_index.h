// The cache index: a record in a Zstandard skippable frame at the start of the attached data's
// stream, written when an application is packed for the extraction cache. It names the
// payload (16 hex digits of a hash of the rest of the attached data) and lists every entry's
// name and size, so a start can check a cache folder without decoding anything. Decoders skip
// such frames, so readers that do not know it still find the entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "payload/entry_name.h"

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

namespace cache_index_detail {

// Reads little-endian fields from a byte range and remembers whether any read ran past its end.
class FieldReader {
 public:
  FieldReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  std::uint64_t number(int bytes) {
    if (!has(static_cast<std::size_t>(bytes))) return 0;
    const std::uint64_t value = little_endian_value(data_ + position_, static_cast<std::size_t>(bytes));
    position_ += static_cast<std::size_t>(bytes);
    return value;
  }
  const unsigned char* bytes(std::size_t count) {
    if (!has(count)) return nullptr;
    const unsigned char* start = data_ + position_;
    position_ += count;
    return start;
  }
  [[nodiscard]] bool failed() const { return failed_; }
  [[nodiscard]] bool at_end() const { return position_ == size_; }

 private:
  bool has(std::size_t count) {
    if (failed_ || count > size_ - position_) failed_ = true;
    return !failed_;
  }
  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

inline bool is_lower_hex_digit(unsigned char unit) { return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f'); }

inline CacheIndexResult malformed() { return {CacheIndexStatus::malformed, {}}; }

}  // namespace cache_index_detail

// Reads the record from the compressed stream (the attached data after its header). Only the
// record's own bytes are read; a skippable frame of another tag counts as absent. Header-only,
// so that the launcher and the packing tool read it alike on any host.
inline CacheIndexResult read_cache_index(const unsigned char* stream, std::size_t size) {
  using namespace cache_index_detail;
  FieldReader frame(stream, size);
  if (frame.number(4) != cache_index_frame_magic || frame.failed()) return {};
  const std::uint64_t record_size = frame.number(4);
  const unsigned char* tag = frame.bytes(sizeof cache_index_tag);
  if (tag == nullptr || std::memcmp(tag, cache_index_tag, sizeof cache_index_tag) != 0) return {};
  if (record_size < sizeof cache_index_tag || record_size - sizeof cache_index_tag > size) return malformed();
  const auto body_size = static_cast<std::size_t>(record_size - sizeof cache_index_tag);
  const unsigned char* body = frame.bytes(body_size);
  if (body == nullptr) return malformed();
  FieldReader record(body, body_size);

  if (record.number(1) != cache_index_version) return malformed();
  CacheIndexResult result{CacheIndexStatus::present, {}};
  const unsigned char* id = record.bytes(cache_id_digits);
  if (id == nullptr) return malformed();
  for (std::size_t i = 0; i < cache_id_digits; ++i) {
    if (!is_lower_hex_digit(id[i])) return malformed();
    result.index.id.push_back(static_cast<wchar_t>(id[i]));
  }
  const std::uint64_t count = record.number(4);
  // Each entry takes at least 10 bytes, so a count the record cannot hold is refused before
  // anything is reserved for it.
  if (record.failed() || count == 0 || count > size / 10) return malformed();
  result.index.entries.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t length = record.number(2);
    const unsigned char* name = record.bytes(static_cast<std::size_t>(length) * 2);
    const std::uint64_t entry_size = record.number(8);
    if (record.failed()) return malformed();
    CacheIndexEntry entry{std::wstring(static_cast<std::size_t>(length), L'\0'), entry_size};
    for (std::size_t unit = 0; unit < length; ++unit) {
      entry.name[unit] = static_cast<wchar_t>(little_endian_value(name + 2 * unit, 2));
    }
    if (!is_safe_entry_name(entry.name)) return malformed();
    result.index.entries.push_back(std::move(entry));
  }
  if (!record.at_end()) return malformed();
  return result;
}


}  // namespace osvari
