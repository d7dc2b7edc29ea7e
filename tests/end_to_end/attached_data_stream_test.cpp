// Broken compressed streams end the launcher with the decode message before any application
// code runs; intact ones, with or without a checksum, run.
#include <gtest/gtest.h>

#include <filesystem>

#include "payload/attached_data_reader.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::testing {
namespace {

struct StreamCase {
  std::string label;
  std::string attached;
};

std::string with_byte_changed(std::string bytes, std::size_t index) {
  bytes[index] = static_cast<char>(bytes[index] ^ 0x5A);
  return bytes;
}

// The hosted application with a data file: a child that ran would leave the marker file.
std::string application_stream(std::size_t data_size = 10) {
  return decoded_stream({{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {u"data.bin", varied_bytes(data_size)}});
}

// The same with the terminator ending exactly at the end of a full decode buffer.
std::string application_stream_ending_at_a_buffer_boundary() {
  const std::size_t length = application_stream(0).size();
  return application_stream((decode_buffer_size - length % decode_buffer_size) % decode_buffer_size);
}

std::string with_checksum_changed(std::string frame) {
  frame.back() = static_cast<char>(frame.back() ^ 0x01);
  return frame;
}

std::vector<StreamCase> broken_streams() {
  const std::string decoded = application_stream();
  const std::string frame = pack::compress_frame(decoded, {.level = 1});
  std::string bad_block_type = frame;
  bad_block_type[6] = static_cast<char>(bad_block_type[6] | 0x06);  // first block header: reserved type
  std::string big_window = frame;
  big_window[5] = static_cast<char>((28 - 10) << 3);  // window descriptor announcing 2^28 bytes
  const std::string at_boundary = pack::compress_frame(application_stream_ending_at_a_buffer_boundary(), {.level = 1});
  // Decoded bytes after the terminator: the frame's end, and its checksum, lie beyond the last read.
  const std::string with_bytes_after = pack::compress_frame(application_stream() + varied_bytes(300'000), {.level = 1});
  std::vector<StreamCase> cases = {
      {"header_only", "KAY"},
      {"cut_short_inside_the_frame", "KAY" + frame.substr(0, frame.size() / 2)},
      {"cut_before_the_checksum", "KAY" + frame.substr(0, frame.size() - 4)},
      {"corrupted_block_header", "KAY" + bad_block_type},
      {"corrupted_checksum", pack::wrap_attached_data(with_checksum_changed(frame))},
      {"corrupted_checksum_with_the_terminator_at_a_buffer_boundary",
       pack::wrap_attached_data(with_checksum_changed(at_boundary))},
      {"corrupted_checksum_behind_bytes_after_the_terminator",
       pack::wrap_attached_data(with_checksum_changed(with_bytes_after))},
      {"bytes_that_are_not_a_frame", "KAY" + std::string(64, 'z')},
      {"window_of_2_to_the_28", "KAY" + big_window},
      {"no_terminator", pack::wrap_attached_data(pack::compress_frame(decoded_stream({{u"main.dll", "x"}}, false)))},
  };
  // One byte flipped anywhere in the compressed blocks: without the checksum, most such
  // executables ran their changed contents.
  for (int sixth = 1; sixth <= 5; ++sixth) {
    cases.push_back({"one_byte_flipped_at_" + std::to_string(sixth) + "_sixths",
                     pack::wrap_attached_data(with_byte_changed(frame, frame.size() * sixth / 6))});
  }
  return cases;
}

class BrokenStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(BrokenStream, EndsWithTheDecodeMessageAndRunsNoApplicationCode) {
  OnefileFixture onefile(GetParam().attached);
  const auto marker = onefile.temp_directory() / L"child-ran.txt";
  const ProcessResult result = onefile.run({L"--write-parent", marker.wstring()});
  EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, couldn't decode attached data.\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the application ran";
  // Whatever was unpacked before the stream broke goes with the failure.
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Variants, BrokenStream, ::testing::ValuesIn(broken_streams()),
                         [](const auto& info) { return info.param.label; });

std::vector<StreamCase> intact_streams() {
  const auto frame = [](const std::string& decoded, bool checksum) {
    return pack::wrap_attached_data(pack::compress_frame(decoded, {.level = 1, .checksum = checksum}));
  };
  return {
      {"with_a_checksum", frame(application_stream(), true)},
      {"without_a_checksum", frame(application_stream(), false)},
      {"terminator_at_a_buffer_boundary", frame(application_stream_ending_at_a_buffer_boundary(), true)},
      {"bytes_after_the_terminator", frame(application_stream() + varied_bytes(300'000), true)},
  };
}

class IntactStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(IntactStream, Runs) {
  OnefileFixture onefile(GetParam().attached);
  const auto marker = onefile.temp_directory() / L"child-ran.txt";
  const ProcessResult result = onefile.run({L"--write-parent", marker.wstring(), L"--exit", L"5"});
  EXPECT_EQ(result.exit_code, 5u) << result.standard_output << result.standard_error;
  EXPECT_TRUE(std::filesystem::exists(marker));
}

INSTANTIATE_TEST_SUITE_P(Variants, IntactStream, ::testing::ValuesIn(intact_streams()),
                         [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace osvari::testing
