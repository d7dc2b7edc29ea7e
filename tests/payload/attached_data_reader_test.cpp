// The streaming reader over attached data held in memory.
#include "payload/attached_data_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/payload_builder.h"
#include "tools/pack/attached_data/attached_data_format.h"

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

TEST(AttachedDataReader, LargeReadsGoOnAcrossFrameBoundaries) {
  const std::string decoded = decoded_stream({{u"first.dll", varied_bytes(100'000)}, {u"second.bin", varied_bytes(90'000, 2)}});
  const std::string frames = pack::compress_frame(decoded.substr(0, 70'000), {.level = 1}) +
                             pack::compress_frame("", {.level = 1}) +
                             pack::compress_frame(decoded.substr(70'000), {.level = 1});
  for (const auto& pieces : std::vector<std::vector<std::size_t>>{{150'000}, {40'000}, {5, 65'000}}) {
    SCOPED_TRACE(pieces.back());
    expect_reads_back(pack::wrap_attached_data(frames), decoded, pieces);
  }
}

TEST(AttachedDataReader, TrailingBytesAfterTheLastFrameAreNeverDecoded) {
  const std::string decoded = decoded_stream({{u"main.dll", "abc"}});
  const std::string attached = attached_data_from_stream(decoded) + "garbage that is not a frame";
  expect_reads_back(attached, decoded, {1});
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

// Attached data whose entries end in `decoded_through_terminator`, and whether the frame that
// holds the terminator is confirmed to end cleanly.
struct FrameEndCase {
  const char* label;
  std::string decoded_through_terminator;
  std::string attached;
  int exit_code;  // 0: confirmed; 2: the decode message
};

std::string with_last_byte_changed(std::string frame) {
  frame.back() = static_cast<char>(frame.back() ^ 0x01);
  return frame;
}

std::vector<FrameEndCase> frame_end_cases() {
  const std::string entries = decoded_stream({{u"main.dll", varied_bytes(40'000)}, {u"data.bin", "data"}});
  // 18 bytes of name, 8 of size and 2 of terminator around the contents.
  const std::string at_boundary = decoded_stream({{u"main.dll", varied_bytes(decode_buffer_size - 28)}});
  const std::string with_sum = pack::compress_frame(entries, {.level = 1});
  const std::string boundary_with_sum = pack::compress_frame(at_boundary, {.level = 1});
  const std::string extra = varied_bytes(200'000, 5);
  return {
      {"with_a_checksum", entries, pack::wrap_attached_data(with_sum), 0},
      {"without_a_checksum", entries, pack::wrap_attached_data(pack::compress_frame(entries, {.checksum = false})), 0},
      {"terminator_at_a_decode_buffer_boundary", at_boundary, pack::wrap_attached_data(boundary_with_sum), 0},
      {"bytes_after_the_terminator_are_decoded_and_dropped", entries,
       pack::wrap_attached_data(pack::compress_frame(entries + extra, {.level = 1})), 0},
      {"bytes_after_the_frame_are_never_decoded", entries,
       pack::wrap_attached_data(with_sum + std::string(64, 'z')), 0},
      {"checksum_mismatch", entries, pack::wrap_attached_data(with_last_byte_changed(with_sum)), 2},
      {"checksum_mismatch_with_the_terminator_at_a_boundary", at_boundary,
       pack::wrap_attached_data(with_last_byte_changed(boundary_with_sum)), 2},
      {"checksum_mismatch_behind_dropped_bytes", entries,
       pack::wrap_attached_data(with_last_byte_changed(pack::compress_frame(entries + extra, {.level = 1}))), 2},
      {"frame_cut_before_its_checksum", entries, "KAY" + with_sum.substr(0, with_sum.size() - 4), 2},
  };
}

class FrameEnd : public ::testing::TestWithParam<FrameEndCase> {};

// libzstd checks the checksum in the call that yields a frame's last bytes when it has them; the
// confirmation matters where the last read ends before the frame does.
// Read at once, large reads are decoded straight into their destination; in small pieces,
// through the decode buffer.
TEST_P(FrameEnd, IsConfirmedAfterTheTerminatorOrEndsTheRun) {
  const FrameEndCase& test = GetParam();
  const std::size_t size = test.decoded_through_terminator.size();
  for (const std::size_t piece : {size, std::size_t{1000}}) {
    SCOPED_TRACE(piece);
    EXPECT_EXIT(
        {
          open_attached_data(as_resource(test.attached));
          std::string decoded;
          while (decoded.size() < size) decoded += read_bytes(std::min(piece, size - decoded.size()));
          if (decoded != test.decoded_through_terminator) std::exit(3);
          confirm_attached_data_end();
          std::exit(0);
        },
        ::testing::ExitedWithCode(test.exit_code), "^$");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameEnd, ::testing::ValuesIn(frame_end_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace osvari::testing
