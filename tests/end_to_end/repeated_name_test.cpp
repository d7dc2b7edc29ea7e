// Attached data that names one file twice, through the real launcher: with several writers both
// copies could be open at once and the file would end as neither, so the run is refused with
// one message before the repeat is written, and nothing is left, in TEMP or in the cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

struct RepeatCase {
  const char* label;
  std::u16string first;
  std::u16string repeated;
};

// A 900 KiB copy, a filler, then a 100 KiB copy of the same name: the copies fall in two blocks,
// which two writers would write at the same time.
std::vector<TestEntry> entries_of(const RepeatCase& test) {
  return {{u"hosted_app.dll", built_library(L"hosted_app.dll")},
          {test.first, varied_bytes(900 * 1024, 2)},
          {u"filler.bin", varied_bytes(300 * 1024, 3)},
          {test.repeated, varied_bytes(100 * 1024, 4)}};
}

std::vector<std::wstring> names_in(const fs::path& folder) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().wstring());
  return names;
}

void PrintTo(const RepeatCase& test, std::ostream* out) { *out << test.label; }

class RepeatedName : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(RepeatedName, EndsTheRunWithOneMessageAndLeavesNothing) {
  SacrificialArea area;
  const std::vector<TestEntry> entries = entries_of(GetParam());
  for (const bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "packed for the cache" : "unpacked into TEMP");
    OnefileFixture onefile(cached ? cached_attached_data_for(entries) : attached_data_for(entries));
    const fs::path local = onefile.temp_directory().parent_path() / L"local";
    const fs::path profile = onefile.temp_directory().parent_path() / L"profile";
    fs::create_directories(local);
    fs::create_directories(profile);
    const ProcessResult result =
        onefile.run({L"--exit", L"0"}, {.environment = {{L"LOCALAPPDATA", local.wstring()},
                                                         {L"USERPROFILE", profile.wstring()}},
                                         .current_directory = area.current().wstring()});

    EXPECT_EQ(result.exit_code, 2u) << result.standard_output << result.standard_error;
    EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, repeated file name in attached data.\n");
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
    EXPECT_EQ(names_in(local / L"osvari-onefile"), std::vector<std::wstring>{}) << "a fill was left";
    EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepeatedName,
    ::testing::Values(RepeatCase{"same_name", u"same.bin", u"same.bin"},
                      RepeatCase{"other_letter_case", u"Same.bin", u"sAME.BIN"},
                      RepeatCase{"other_letter_case_beyond_ascii", u"\u00e9t\u00e9.bin", u"\u00c9T\u00c9.bin"},
                      RepeatCase{"file_then_folder", u"a", u"a\\b"},
                      RepeatCase{"folder_then_file", u"a\\b", u"a"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace osvari::testing
