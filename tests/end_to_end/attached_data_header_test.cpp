// The launcher refuses attached data that is missing, too short or has the wrong header.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

struct HeaderCase {
  const char* label;
  std::optional<std::string> attached_data;
};

class AttachedDataHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(AttachedDataHeader, IsRefusedWithExitCode2) {
  TemporaryDirectory directory;
  const std::wstring launcher = directory / L"app.exe";
  make_launcher_copy(launcher, GetParam().attached_data);
  const std::wstring temp = directory.path().wstring();
  const ProcessResult result = run_program(launcher, {}, {.environment = {{L"TEMP", temp}, {L"TMP", temp}}});
  EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, couldn't find attached data header.\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
  // The folder the parent had made for this run goes with the failure.
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    EXPECT_FALSE(entry.path().filename().wstring().starts_with(L"onefile_")) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, AttachedDataHeader,
                         ::testing::Values(HeaderCase{"missing_resource", std::nullopt},
                                           HeaderCase{"empty_resource", std::string()},
                                           HeaderCase{"one_byte", std::string("K")},
                                           HeaderCase{"two_bytes", std::string("KA")},
                                           HeaderCase{"lower_case_letter", std::string("KaY\x28\xb5\x2f\xfd")},
                                           HeaderCase{"different_third_byte", std::string("KAZ\x28\xb5\x2f\xfd")}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace osvari::testing
