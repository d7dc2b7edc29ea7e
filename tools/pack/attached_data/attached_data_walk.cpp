#include "tools/pack/attached_data/attached_data_walk.h"

#include <zstd.h>

#include <memory>
#include <vector>

#include "base/little_endian.h"
#include "payload/application_kind.h"
#include "payload/cache_index.h"
#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/attached_data/cache_index_writer.h"
#include "tools/pack/inputs/entry_name_check.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

constexpr std::uint64_t zstd_frame_magic = 0xFD2FB528;

[[noreturn]] void fail_data(const AttachedDataSource& source, const std::string& problem) {
  fail_bad_input(display_path(source.file) + ": " + problem);
}

// Splits the decoded stream into names, sizes and contents as the bytes arrive.
class EntryParser {
 public:
  EntryParser(const AttachedDataSource& source, const EntryHandlers& handlers) : source_(source), handlers_(handlers) {}

  // Returns how many bytes of `bytes` belong to the entries; the rest follows the terminator.
  std::size_t feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && !finished_) {
      const std::string_view rest = bytes.substr(used);
      switch (state_) {
        case State::name:
          used += take_into(rest, 2, [this] { name_unit(); });
          break;
        case State::size:
          used += take_into(rest, 8, [this] { entry_size(); });
          break;
        case State::contents: {
          const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, rest.size()));
          if (handlers_.contents) handlers_.contents(rest.substr(0, count));
          remaining_ -= count;
          used += count;
          if (remaining_ == 0) end_entry();
          break;
        }
      }
    }
    return used;
  }

  bool finished() const { return finished_; }
  std::uint64_t entries() const { return entries_; }
  std::uint64_t content_bytes() const { return content_bytes_; }

  // Where the decoded stream stopped, for a message about data that ended too soon.
  std::string position() const {
    if (state_ == State::name && name_.empty() && pending_.empty()) {
      return entries_ == 0 ? "before the first entry" : "before the terminator";
    }
    return "inside entry " + std::to_string(entries_ + 1) +
           (name_.empty() ? "" : " \"" + printable_entry_name(name_) + "\"");
  }

 private:
  enum class State { name, size, contents };

  template <typename Complete>
  std::size_t take_into(std::string_view bytes, std::size_t field, Complete complete) {
    const std::size_t count = std::min(field - pending_.size(), bytes.size());
    pending_.append(bytes.substr(0, count));
    if (pending_.size() == field) {
      complete();
      pending_.clear();
    }
    return count;
  }

  void name_unit() {
    const auto unit = static_cast<char16_t>(little_endian_value(pending_));
    if (unit != 0) {
      // Longer than any name the launcher can hold: stop before it grows without bound.
      if (name_.size() == max_entry_name_length) {
        fail_data(source_, "the name of entry " + std::to_string(entries_ + 1) + " is longer than " +
                               std::to_string(max_entry_name_length) + " UTF-16 code units");
      }
      name_.push_back(unit);
      return;
    }
    if (name_.empty()) {
      finished_ = true;
      return;
    }
    state_ = State::size;
  }

  void entry_size() {
    remaining_ = little_endian_value(pending_);
    if (handlers_.begin) handlers_.begin(name_, remaining_);
    content_bytes_ += remaining_;
    state_ = State::contents;
    if (remaining_ == 0) end_entry();
  }

  void end_entry() {
    if (handlers_.end) handlers_.end();
    ++entries_;
    name_.clear();
    state_ = State::name;
  }

  const AttachedDataSource& source_;
  const EntryHandlers& handlers_;
  State state_ = State::name;
  std::string pending_;
  std::u16string name_;
  std::uint64_t remaining_ = 0;
  std::uint64_t entries_ = 0;
  std::uint64_t content_bytes_ = 0;
  bool finished_ = false;
};

// The compressed bytes between the header and the end of the attached data, taken in chunks.
class CompressedInput {
 public:
  CompressedInput(const AttachedDataSource& source, std::uint64_t start) : bytes_(source.bytes), next_(start) {}

  // Up to `wanted` bytes at `position` within the attached data.
  std::string_view read_at(std::uint64_t position, std::size_t wanted) const {
    if (position >= bytes_.size()) return {};
    return bytes_.substr(static_cast<std::size_t>(position), wanted);
  }

  std::uint64_t next() const { return next_; }
  void advance(std::uint64_t count) { next_ += count; }
  std::uint64_t remaining() const { return bytes_.size() - std::min<std::uint64_t>(next_, bytes_.size()); }

 private:
  std::string_view bytes_;
  std::uint64_t next_;
};

void check_trailer(const AttachedDataSource& source, CompressedInput& input) {
  const std::uint64_t stream_end = input.next();
  if (input.remaining() != attached_data_trailer_size) {
    fail_data(source, std::to_string(input.remaining()) + " bytes follow the compressed stream instead of the " +
                          std::to_string(attached_data_trailer_size) + "-byte trailer");
  }
  const std::string_view trailer = input.read_at(stream_end, attached_data_trailer_size);
  if (trailer.substr(0, 5) != std::string(5, '\0') || little_endian_value(trailer.substr(5)) != source.bytes.size() - 8) {
    fail_data(source, "the trailer does not hold five zero bytes and the count of bytes before its value");
  }
}

// The cache index right after the header, if any: read, checked against the hash of what
// follows it, and stepped over.
CacheIndex read_cache_index_of(const AttachedDataSource& source, CompressedInput& input, WalkSummary& summary) {
  const std::string_view rest = input.read_at(input.next(), source.bytes.size());
  const CacheIndexResult found = read_cache_index(reinterpret_cast<const unsigned char*>(rest.data()), rest.size());
  if (found.status == CacheIndexStatus::absent) return {};
  if (found.status == CacheIndexStatus::malformed) fail_data(source, "the cache index after the header is damaged");
  input.advance(8 + little_endian_value(rest.substr(4, 4)));
  const std::uint64_t stream_start = input.next();
  const std::uint64_t stream_end = source.bytes.size() >= stream_start + attached_data_trailer_size ? source.bytes.size() - attached_data_trailer_size
                                                                                      : stream_start;
  const std::string id = attached_data_id(input.read_at(stream_start, static_cast<std::size_t>(stream_end - stream_start)));
  summary.cache_id.assign(found.index.id.begin(), found.index.id.end());
  if (summary.cache_id != id) fail_data(source, "the cache index names other data than follows it");
  return found.index;
}

// The record that says the first entry is a program, where the packing tool puts it: right
// after the cache index, or right after the header.
void read_application_kind_of(const AttachedDataSource& source, CompressedInput& input, WalkSummary& summary) {
  const std::string_view rest = input.read_at(input.next(), source.bytes.size());
  const std::string frame = program_kind_frame();
  if (rest.size() < 12 || rest.substr(8, 4) != std::string_view(frame).substr(8, 4)) return;
  if (!rest.starts_with(frame.substr(0, 4))) return;
  if (!rest.starts_with(frame)) fail_data(source, "the program record after the header is damaged or from a newer osvari-pack");
  summary.program = true;
  input.advance(frame.size());
}

}  // namespace

WalkSummary walk_attached_data(const AttachedDataSource& source, const EntryHandlers& handlers) {
  CompressedInput input(source, attached_data_header.size());
  if (source.bytes.size() < attached_data_header.size() ||
      input.read_at(0, attached_data_header.size()) != attached_data_header) {
    fail_data(source, "no attached data header (the first three bytes are not KAY)");
  }

  WalkSummary summary;
  const CacheIndex cache_index = read_cache_index_of(source, input, summary);
  read_application_kind_of(source, input, summary);
  // Entries are held to the cache index, where there is one, as they come.
  EntryHandlers checked = handlers;
  std::size_t entries_seen = 0;
  if (!summary.cache_id.empty()) {
    checked.begin = [&](std::u16string_view name, std::uint64_t size) {
      const std::size_t at = entries_seen++;
      if (at >= cache_index.entries.size() || cache_index.entries[at].size != size ||
          cache_index.entries[at].name != std::wstring(name.begin(), name.end())) {
        fail_data(source, "the cache index does not list entry " + std::to_string(at + 1) + " as it is");
      }
      if (handlers.begin) handlers.begin(name, size);
    };
  }

  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> decoder(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!decoder) fail_bad_input("out of memory for the decoder");
  EntryParser parser(source, checked);
  summary.checksummed = true;
  std::vector<char> output(ZSTD_DStreamOutSize());
  constexpr std::size_t input_chunk = 1 << 17;
  bool frame_open = false;

  // Decode frame after frame until the terminator, then to the end of the frame that holds it.
  while (!parser.finished() || frame_open) {
    if (!frame_open) {
      // The magic number, then the frame header descriptor, whose bit 2 says "checksum follows".
      const std::string_view start = input.read_at(input.next(), 5);
      if (start.empty()) fail_data(source, "the data ends " + parser.position());
      if (start.size() < 5 || little_endian_value(start.substr(0, 4)) != zstd_frame_magic) {
        fail_data(source, "no Zstandard frame at byte " + std::to_string(input.next()) + ": the data ends " +
                              parser.position());
      }
      if ((static_cast<unsigned char>(start[4]) & 0x04) == 0) summary.checksummed = false;
      ++summary.frames;
      frame_open = true;
    }
    const std::string_view chunk = input.read_at(input.next(), input_chunk);
    if (chunk.empty()) fail_data(source, "the compressed stream is cut short " + parser.position());
    ZSTD_inBuffer in{chunk.data(), chunk.size(), 0};
    // Drain this chunk; a call stops at the end of a frame, leaving what follows unread.
    while (frame_open) {
      ZSTD_outBuffer out{output.data(), output.size(), 0};
      const std::size_t result = ZSTD_decompressStream(decoder.get(), &out, &in);
      if (ZSTD_isError(result)) {
        fail_data(source,
                  "cannot decode the compressed stream " + parser.position() + ": " + ZSTD_getErrorName(result));
      }
      const std::string_view decoded(output.data(), out.pos);
      const std::size_t used = parser.finished() ? 0 : parser.feed(decoded);
      if (used < decoded.size()) {
        fail_data(source, "decoded bytes follow the terminator");
      }
      if (result == 0) frame_open = false;
      const bool output_full = out.pos == out.size;
      if (in.pos == in.size && !output_full) break;
    }
    input.advance(in.pos);
  }

  check_trailer(source, input);
  if (parser.entries() == 0) {
    fail_data(source, summary.program ? "no entries: the program is missing" : "no entries: the main library is missing");
  }
  if (!summary.cache_id.empty() && entries_seen != cache_index.entries.size()) {
    fail_data(source, "the cache index lists " + std::to_string(cache_index.entries.size()) + " entries, the data " +
                          std::to_string(entries_seen));
  }
  summary.entries = parser.entries();
  summary.content_bytes = parser.content_bytes();
  return summary;
}

}  // namespace osvari::pack
