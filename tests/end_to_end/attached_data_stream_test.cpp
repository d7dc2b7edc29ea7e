// Broken compressed streams end the launcher with the decode message.
#include <gtest/gtest.h>

#include "tests/support/launcher_copy.h"
#include "tests/support/payload_builder.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"
#include "tools/pack/attached_data_format.h"

namespace osvari::testing {
namespace {

struct StreamCase {
  const char* label;
  std::string attached;
};

std::string with_byte_changed(std::string bytes, std::size_t index) {
  bytes[index] = static_cast<char>(bytes[index] ^ 0x5A);
  return bytes;
}

std::vector<StreamCase> broken_streams() {
  const std::string decoded = decoded_stream({{u"main.dll", varied_bytes(200'000)}, {u"data.bin", varied_bytes(10)}});
  const std::string frame = pack::compress_frame(decoded, {.level = 1});
  std::string bad_block_type = frame;
  bad_block_type[6] = static_cast<char>(bad_block_type[6] | 0x06);  // first block header: reserved type
  const std::string checked = pack::compress_frame(decoded, {.level = 1, .checksum = true});
  std::string big_window = frame;
  big_window[5] = static_cast<char>((28 - 10) << 3);  // window descriptor announcing 2^28 bytes
  return {
      {"header_only", "KAY"},
      {"cut_short_inside_the_frame", "KAY" + frame.substr(0, frame.size() / 2)},
      {"corrupted_block_header", "KAY" + bad_block_type},
      {"corrupted_content_under_a_checksum", "KAY" + with_byte_changed(checked, checked.size() / 2)},
      {"bytes_that_are_not_a_frame", "KAY" + std::string(64, 'z')},
      {"window_of_2_to_the_28", "KAY" + big_window},
      {"no_terminator", pack::wrap_attached_data(pack::compress_frame(decoded_stream({{u"main.dll", "x"}}, false)))},
  };
}

class BrokenStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(BrokenStream, EndsWithTheDecodeMessage) {
  TemporaryDirectory directory;
  const std::wstring launcher = directory / L"app.exe";
  make_launcher_copy(launcher, GetParam().attached);
  const ProcessResult result =
      run_program(launcher, {}, {.environment = {{L"TEMP", directory.path().wstring()}, {L"TMP", directory.path().wstring()}}});
  EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, couldn't decode attached data.\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
}

INSTANTIATE_TEST_SUITE_P(Variants, BrokenStream, ::testing::ValuesIn(broken_streams()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace osvari::testing
