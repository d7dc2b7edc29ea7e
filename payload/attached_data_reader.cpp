#include "payload/attached_data_reader.h"

#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/error_reporting.h"
#include "base/shared_state.h"

namespace osvari {
namespace {

// A missing or short resource counts as a wrong header; nothing past its end is read.
bool starts_with_header(ResourceBytes data) {
  return data.data != nullptr && data.size >= attached_data_header.size() &&
         std::memcmp(data.data, attached_data_header.data(), attached_data_header.size()) == 0;
}

// Reads of this many bytes or more, once the decode buffer is spent, are decoded into the
// reader's destination itself.
constexpr std::uint64_t direct_read_bytes = 32768;

// One reader per process; only the main thread uses it.
struct Reader {
  ResourceBytes attached_data;
  ZSTD_inBuffer input{};
  ZSTD_outBuffer output{};  // between calls: size = bytes held, pos = bytes handed out
  unsigned char* decode_buffer = nullptr;
  ZSTD_DCtx* decoder = nullptr;
  bool full_buffer = false;  // the latest call filled the whole buffer, so more may be pending
  bool frame_ended = false;  // the latest call reached the end of a frame (and checked its checksum)
  std::uint64_t decoder_calls = 0;
};

Reader reader;

[[noreturn]] void fail_decode() { fatal_error("Error, couldn't decode attached data."); }

// One decoder call into `output`, from its position on: false when the stream is damaged or
// has ended.
bool decode_into(ZSTD_outBuffer& output) {
  if (reader.input.pos == reader.input.size && !reader.full_buffer) return false;
  const std::size_t result = ZSTD_decompressStream(reader.decoder, &output, &reader.input);
  ++reader.decoder_calls;
  reader.full_buffer = output.pos == output.size;
  if (ZSTD_isError(result)) return false;
  // libzstd returns 0 only once a frame is decoded and flushed, its checksum verified; one
  // call never runs past a frame's end.
  reader.frame_ended = result == 0;
  return true;
}

// One decoder call into the whole decode buffer; the bytes it held before are gone. False as
// decode_into.
bool decode_once() {
  reader.output = ZSTD_outBuffer{reader.decode_buffer, decode_buffer_size, 0};
  const bool decoded = decode_into(reader.output);
  reader.output.size = decoded ? reader.output.pos : 0;
  reader.output.pos = 0;
  return decoded;
}

bool refill() {
  do {
    if (!decode_once()) return false;
  } while (reader.output.size == 0);
  return true;
}

}  // namespace

void find_attached_data() { reader.attached_data = find_own_rcdata_resource(attached_data_resource_id); }

ResourceBytes found_attached_data() { return reader.attached_data; }

CacheIndexResult read_attached_cache_index() {
  const ResourceBytes data = reader.attached_data;
  if (!starts_with_header(data)) return {};
  const std::size_t header = attached_data_header.size();
  return read_cache_index(data.data + header, static_cast<std::size_t>(data.size - header));
}

ApplicationKind read_attached_application_kind() {
  const ResourceBytes data = reader.attached_data;
  if (!starts_with_header(data)) return ApplicationKind::library;
  const std::size_t header = attached_data_header.size();
  return read_application_kind(data.data + header, static_cast<std::size_t>(data.size - header));
}

void open_attached_data() { open_attached_data(reader.attached_data); }

void open_attached_data(ResourceBytes attached_data) {
  reader.attached_data = attached_data;
  if (!starts_with_header(attached_data)) {
    fatal_error("Error, couldn't find attached data header.");
  }
  reader.decode_buffer = static_cast<unsigned char*>(std::malloc(decode_buffer_size));
  if (reader.decode_buffer == nullptr) fatal_error("Error, couldn't allocate memory.");
  reader.decoder = ZSTD_createDCtx();
  if (reader.decoder == nullptr) fatal_error("Error, couldn't allocate memory.");
  const std::size_t header = attached_data_header.size();
  reader.input = ZSTD_inBuffer{attached_data.data + header, attached_data.size - header, 0};
  reader.output = ZSTD_outBuffer{reader.decode_buffer, 0, 0};
  reader.full_buffer = false;
  reader.frame_ended = false;
  reader.decoder_calls = 0;
  raise_unpack_flag();
}

void read_attached_data(void* destination, std::uint64_t count) {
  if (!try_read_attached_data(destination, count)) fail_decode();
}

bool try_read_attached_data(void* destination, std::uint64_t count) {
  auto* target = static_cast<unsigned char*>(destination);
  while (count > 0) {
    if (reader.output.pos == reader.output.size && count >= direct_read_bytes) {
      // Large enough that a copy through the decode buffer would cost more than the call.
      ZSTD_outBuffer output{target, static_cast<std::size_t>(count), 0};
      if (!decode_into(output)) return false;
      target += output.pos;
      count -= output.pos;
      continue;
    }
    if (reader.output.pos == reader.output.size && !refill()) return false;
    const std::uint64_t held = reader.output.size - reader.output.pos;
    const std::uint64_t n = std::min(count, held);
    std::memcpy(target, reader.decode_buffer + reader.output.pos, n);
    reader.output.pos += n;
    target += n;
    count -= n;
  }
  return true;
}

void confirm_attached_data_end() {
  while (!reader.frame_ended) {
    if (!decode_once()) fail_decode();
  }
  reader.output.pos = reader.output.size;  // whatever followed the terminator is dropped
}

void close_attached_data() {
  ZSTD_freeDCtx(reader.decoder);
  reader.decoder = nullptr;
  std::free(reader.decode_buffer);
  reader.decode_buffer = nullptr;
}

std::uint64_t decoder_call_count() { return reader.decoder_calls; }

}  // namespace osvari
