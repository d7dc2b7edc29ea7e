#include "tools/pack/attached_data/attached_data_writer.h"

#include <fstream>
#include <string>
#include <vector>

#include "payload/application_kind.h"
#include "tools/pack/attached_data/cache_index_writer.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/read_failure.h"

namespace osvari::pack {
namespace {

constexpr std::size_t read_chunk_size = 1 << 20;

void compress_file(const PackEntry& entry, FrameCompressor& compressor, std::vector<char>& chunk,
                   const std::function<void(std::uint64_t)>& input_read) {
  std::ifstream file(entry.source, std::ios::binary);
  if (!file) fail_cannot_read(entry.source);
  std::uint64_t remaining = entry.size;
  while (remaining > 0) {
    const std::size_t wanted = remaining < chunk.size() ? static_cast<std::size_t>(remaining) : chunk.size();
    file.read(chunk.data(), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (got != wanted) {
      if (file.bad()) fail_cannot_read(entry.source);
      fail_bad_input("file became shorter while packing: " + display_path(entry.source));
    }
    compressor.write(std::string_view(chunk.data(), got));
    if (input_read) input_read(got);
    remaining -= got;
  }
  if (file.peek() != std::ifstream::traits_type::eof()) {
    fail_bad_input("file became longer while packing: " + display_path(entry.source));
  }
}

}  // namespace

void write_attached_data(const std::vector<PackEntry>& entries, const CompressionOptions& options,
                         const std::function<void(std::string_view)>& sink,
                         const std::function<void(std::uint64_t)>& input_read, bool with_cache_index,
                         bool carries_program) {
  std::uint64_t written = 0;
  const auto counted_sink = [&](std::string_view bytes) {
    written += bytes.size();
    sink(bytes);
  };
  counted_sink(attached_data_header);

  // The cache index goes first but names the stream after it, so that stream is held back
  // until it is complete.
  std::string held_stream;
  const auto stream_sink = [&](std::string_view bytes) {
    if (with_cache_index) {
      held_stream.append(bytes);
    } else {
      counted_sink(bytes);
    }
  };
  // Part of what the cache index names, so a program and a library never share a cache folder.
  if (carries_program) stream_sink(program_kind_frame());
  FrameCompressor compressor(options, stream_sink);
  std::vector<char> chunk(read_chunk_size);
  std::string prefix;
  for (const PackEntry& entry : entries) {
    prefix.clear();
    append_entry_prefix(prefix, entry.name, entry.size);
    compressor.write(prefix);
    compress_file(entry, compressor, chunk, input_read);
  }
  prefix.clear();
  append_terminator(prefix);
  compressor.write(prefix);
  compressor.finish();

  if (with_cache_index) {
    std::vector<IndexedEntry> index;
    for (const PackEntry& entry : entries) index.push_back({entry.name, entry.size});
    counted_sink(cache_index_frame(attached_data_id(held_stream), index));
    counted_sink(held_stream);
  }
  counted_sink(trailer_for(written));
}

}  // namespace osvari::pack
