// The unpack directory's name: made and read back in one shape, and nothing else taken for it.
#include "paths/unpack_directory_name.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

namespace osvari {
namespace {

TEST(UnpackDirectoryName, OnlyTheLaunchersOwnFormIsRecognised) {
  struct Case {
    const wchar_t* name;
    std::optional<std::pair<std::uint32_t, std::uint64_t>> parsed;
  };
  using Parsed = std::pair<std::uint32_t, std::uint64_t>;
  const Case cases[] = {
      {L"onefile_12_34", Parsed{12, 34}},
      {L"onefile_4294967295_9223372036854775807", Parsed{4294967295u, 9223372036854775807ull}},
      {L"onefile_0012_0034", Parsed{12, 34}},
      {L"onefile_4294967296_1", std::nullopt},             // process id past 32 bits
      {L"onefile_1_9223372036854775808", std::nullopt},    // stamp past 63 bits
      {L"onefile_keep", std::nullopt},
      {L"onefile_12_ab", std::nullopt},
      {L"onefile_12", std::nullopt},
      {L"onefile_12_", std::nullopt},
      {L"onefile__12", std::nullopt},
      {L"onefile_12_34_5", std::nullopt},
      {L"onefile_-1_2", std::nullopt},
      {L"onefile_1 _2", std::nullopt},
      {L"OneFile_1_2", std::nullopt},
      {L"xonefile_1_2", std::nullopt},
      {L"onefile_\u0661_2", std::nullopt},  // a digit of another script
  };
  for (const auto& entry : cases) {
    const auto parsed = parse_unpack_directory_name(entry.name);
    ASSERT_EQ(parsed.has_value(), entry.parsed.has_value()) << entry.name;
    if (parsed) {
      EXPECT_EQ(std::pair(parsed->process_id, parsed->time_stamp), *entry.parsed) << entry.name;
    }
  }
}

TEST(UnpackDirectoryName, WhatIsMadeIsReadBack) {
  const auto parsed = parse_unpack_directory_name(make_unpack_directory_name(4294967295u, L"133900000000000000"));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->process_id, 4294967295u);
  EXPECT_EQ(parsed->time_stamp, 133900000000000000ull);
}

TEST(UnpackDirectoryName, TheRunsSpecAndTheListingPatternNameTheSameShape) {
  const std::wstring_view spec = unpack_directory_spec;
  const std::wstring_view pattern = unpack_directory_pattern;
  const std::wstring_view last_component = spec.substr(spec.rfind(L'\\') + 1);
  EXPECT_EQ(last_component, L"onefile_{PID}_{TIME}");
  ASSERT_TRUE(pattern.ends_with(L'*'));
  EXPECT_TRUE(make_unpack_directory_name(1, L"2").starts_with(pattern.substr(0, pattern.size() - 1)));
}

}  // namespace
}  // namespace osvari
