#include "tools/pack/attached_data/attached_data_format.h"

#include <zstd.h>

#include <stdexcept>
#include <vector>

#include "base/little_endian.h"

namespace osvari::pack {
namespace {

void check(std::size_t result, const char* what) {
  if (ZSTD_isError(result)) throw CompressionError(std::string(what) + ": " + ZSTD_getErrorName(result));
}

}  // namespace

void append_entry_prefix(std::string& stream, std::u16string_view name, std::uint64_t size) {
  for (char16_t unit : name) append_little_endian(stream, unit, 2);
  append_little_endian(stream, 0, 2);
  append_little_endian(stream, size, 8);
}

void append_terminator(std::string& stream) { append_little_endian(stream, 0, 2); }

struct FrameCompressor::State {
  ZSTD_CCtx* context = nullptr;
  Sink sink;
  std::vector<char> output = std::vector<char>(ZSTD_CStreamOutSize());
  ~State() { ZSTD_freeCCtx(context); }

  // Feeds `input` with `directive` until libzstd has taken it all (and, for ZSTD_e_end,
  // flushed the frame's end).
  void drive(std::string_view input, ZSTD_EndDirective directive) {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    for (;;) {
      ZSTD_outBuffer out{output.data(), output.size(), 0};
      const std::size_t remaining = ZSTD_compressStream2(context, &out, &in, directive);
      check(remaining, "compression failed");
      if (out.pos > 0) sink(std::string_view(output.data(), out.pos));
      const bool input_done = in.pos == in.size;
      if (directive == ZSTD_e_end ? remaining == 0 : input_done) return;
    }
  }
};

FrameCompressor::FrameCompressor(const CompressionOptions& options, Sink sink) : state_(std::make_unique<State>()) {
  state_->sink = std::move(sink);
  state_->context = ZSTD_createCCtx();
  if (state_->context == nullptr) throw CompressionError("out of memory for the compressor");
  ZSTD_CCtx* c = state_->context;
  check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, options.level), "compression level");
  check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, window_log), "window size");
  check(ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0), "content size flag");
  check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, options.checksum ? 1 : 0), "checksum flag");
  check(ZSTD_CCtx_setParameter(c, ZSTD_c_dictIDFlag, 0), "dictionary id flag");
  if (options.workers > 0) {
    // Builds without thread support refuse workers; they compress on one thread instead.
    ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, options.workers);
  }
}

FrameCompressor::~FrameCompressor() = default;

// Input goes in with ZSTD_e_continue only, so libzstd never learns the total size: the frame
// then keeps the full window and carries no content size.
void FrameCompressor::write(std::string_view bytes) {
  if (!bytes.empty()) state_->drive(bytes, ZSTD_e_continue);
}

void FrameCompressor::finish() { state_->drive({}, ZSTD_e_end); }

std::string compress_frame(std::string_view decoded, const CompressionOptions& options) {
  std::string compressed;
  FrameCompressor compressor(options, [&](std::string_view chunk) { compressed.append(chunk); });
  compressor.write(decoded);
  compressor.finish();
  return compressed;
}

std::string trailer_for(std::uint64_t bytes_before_trailer) {
  std::string trailer(5, '\0');
  append_little_endian(trailer, bytes_before_trailer + 5, 8);
  return trailer;
}

std::string wrap_attached_data(std::string_view compressed_stream) {
  std::string data(attached_data_header);
  data.append(compressed_stream);
  data.append(trailer_for(data.size()));
  return data;
}

}  // namespace osvari::pack
