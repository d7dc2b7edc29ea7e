// The streaming reader over attached data held in memory.
#include "payload/attached_data_reader.h"

#include <gtest/gtest.h>

#include "tests/support/payload_builder.h"
#include "tools/pack/attached_data_format.h"

namespace osvari::testing {
namespace {

std::string read_bytes(std::uint64_t count) {
  std::string bytes(count, '\0');
  read_attached_data(bytes.data(), count);
  return bytes;
}

// Reads `decoded.size()` bytes in pieces of the given sizes (cycled) and compares.
void expect_reads_back(const std::string& attached, const std::string& decoded, std::vector<std::size_t> pieces) {
  open_attached_data(as_resource(attached));
  std::size_t offset = 0;
  for (std::size_t i = 0; offset < decoded.size(); ++i) {
    const std::size_t count = std::min(pieces[i % pieces.size()], decoded.size() - offset);
    ASSERT_EQ(read_bytes(count), decoded.substr(offset, count)) << "at offset " << offset;
    offset += count;
  }
  close_attached_data();
}

TEST(AttachedDataReader, ReadsTheStreamInPiecesOfAnySize) {
  const std::string decoded = varied_bytes(300'000);
  const std::string attached = attached_data_from_stream(decoded);
  for (const auto& pieces : std::vector<std::vector<std::size_t>>{{1}, {2, 8}, {32768}, {131072}, {131073}, {7, 250'000}}) {
    SCOPED_TRACE(pieces.front());
    expect_reads_back(attached, decoded, pieces);
  }
}

TEST(AttachedDataReader, TwoFramesReadAsOneStreamAcrossTheBoundary) {
  const std::string decoded = decoded_stream({{u"first.dll", varied_bytes(1000)}, {u"second.bin", varied_bytes(5000, 2)}});
  const std::size_t split = 1000 + 40;  // inside the second entry's name
  const std::string frames = pack::compress_frame(decoded.substr(0, split), {.level = 1}) +
                             pack::compress_frame(decoded.substr(split), {.level = 1});
  expect_reads_back(pack::wrap_attached_data(frames), decoded, {3});
}

TEST(AttachedDataReader, TrailingBytesAfterTheLastFrameAreNeverDecoded) {
  const std::string decoded = decoded_stream({{u"main.dll", "abc"}});
  const std::string attached = attached_data_from_stream(decoded) + "garbage that is not a frame";
  expect_reads_back(attached, decoded, {1});
}

TEST(AttachedDataReader, AFullDecodeBufferIsFollowedByAnotherDecoderCall) {
  // Highly compressible: the first call consumes all input and fills the whole buffer,
  // and the decoder still holds the rest.
  const std::string decoded(decode_buffer_size + 5000, 'x');
  const std::string attached = attached_data_from_stream(decoded);
  open_attached_data(as_resource(attached));
  EXPECT_EQ(read_bytes(decode_buffer_size), decoded.substr(0, decode_buffer_size));
  EXPECT_EQ(read_bytes(5000), decoded.substr(decode_buffer_size));
  EXPECT_GE(decoder_call_count(), 2u);
  close_attached_data();
}

TEST(AttachedDataReader, CallsThatYieldNoOutputAreFollowedWithinTheSameRead) {
  // An empty frame before the real one: its decoder calls produce nothing.
  const std::string decoded = "payload";
  const std::string frames = pack::compress_frame("", {.level = 1}) + pack::compress_frame(decoded, {.level = 1});
  const std::string attached = pack::wrap_attached_data(frames);
  open_attached_data(as_resource(attached));
  EXPECT_EQ(read_bytes(decoded.size()), decoded);
  EXPECT_GE(decoder_call_count(), 2u);
  close_attached_data();
}

}  // namespace
}  // namespace osvari::testing
