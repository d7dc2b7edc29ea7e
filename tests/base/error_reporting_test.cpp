// Failure reports come out byte for byte, on the right stream, with the right exit code.
#include "base/error_reporting.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/messages.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"

namespace osvari::testing {
namespace {

struct ReportCase {
  const char* label;
  std::vector<std::wstring> arguments;
  std::string standard_output;
  std::string standard_error;
  std::uint32_t exit_code;
};

// The system's text arrives with "\r\n" at its end; the report carries it without.
std::string system_error_line(std::int32_t shown, std::uint32_t code) {
  const std::string text = system_message_text(code);
  EXPECT_TRUE(text.ends_with("\r\n")) << text;
  return "Error, couldn't launch child ([Error " + std::to_string(shown) + "] " + text.substr(0, text.size() - 2) +
         ")\n";
}

std::vector<ReportCase> report_cases() {
  return {
      {"fatal_error_writes_its_line_to_standard_output", {L"fatal-error"}, "Error, couldn't decode attached data.\n",
       "", 2},
      {"system_error_with_its_code_and_text", {L"system-error", L"2"}, "", system_error_line(2, 2), 2},
      {"system_error_code_above_2_to_the_31_is_negative",
       {L"system-error", L"0x80070005"},
       "",
       system_error_line(-2147024891, 0x80070005u),
       2},
      {"wide_argument_cut_at_its_first_unit_of_256_or_above",
       {L"open-for-writing", L"\"C:\\dir\\ab\u0416cd.txt\""},
       "",
       "Error, failed to open 'C:\\dir\\ab' for writing.\n",
       2},
      {"units_below_256_are_single_bytes",
       {L"open-for-writing", L"\"C:\\caf\u00e9.txt\""},
       "",
       "Error, failed to open 'C:\\caf\xe9.txt' for writing.\n",
       2},
      {"expansion_failure_ends_abnormally",
       {L"expand"},
       "",
       "Error, couldn't runtime expand spec '{TEMP}\\onefile_{PID}_{TIME}'.\n",
       3},
      {"internal_limit_names_what_did_not_fit",
       {L"internal-limit"},
       "Error, internal limit reached: the command line does not fit in 32768 code units.\n",
       "",
       2},
  };
}

class ErrorReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReport, IsExact) {
  const ReportCase& report = GetParam();
  const ProcessResult result = run_program(build_output_directory() + L"\\report_probe.exe", report.arguments);
  EXPECT_EQ(without_carriage_returns(result.standard_output), report.standard_output);
  EXPECT_EQ(without_carriage_returns(result.standard_error), without_carriage_returns(report.standard_error));
  EXPECT_EQ(result.exit_code, report.exit_code);
  // One line in all: text mode writes "\r\n" for the single line break, and no other CR.
  const std::string both = result.standard_output + result.standard_error;
  EXPECT_EQ(std::count(both.begin(), both.end(), '\n'), 1) << both;
  EXPECT_EQ(std::count(both.begin(), both.end(), '\r'), 1) << both;
}

INSTANTIATE_TEST_SUITE_P(Reports, ErrorReport, ::testing::ValuesIn(report_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ActionBeforeFailureExit, RunsOnceAfterTheReport) {
  const ReportCase cases[] = {
      // The action (the removal of the unpack directory) runs once, after the message; a failure
      // inside it ends the process without starting it again.
      {"action_runs_once_after_a_fatal_error",
       {L"fatal-error", L"with-action"},
       "Error, couldn't decode attached data.\naction before exit\nError, inside the action.\n",
       "",
       2},
      {"action_runs_once_after_an_open_failure",
       {L"open-for-writing", L"x.txt", L"with-action"},
       "action before exit\nError, inside the action.\n",
       "Error, failed to open 'x.txt' for writing.\n",
       2},
      {"action_runs_after_an_expansion_failure",
       {L"expand", L"with-action"},
       "action before exit\nError, inside the action.\n",
       "Error, couldn't runtime expand spec '{TEMP}\\onefile_{PID}_{TIME}'.\n",
       2},
  };
  for (const auto& report : cases) {
    SCOPED_TRACE(report.label);
    const ProcessResult result = run_program(build_output_directory() + L"\\report_probe.exe", report.arguments);
    EXPECT_EQ(without_carriage_returns(result.standard_output), report.standard_output);
    EXPECT_EQ(without_carriage_returns(result.standard_error), report.standard_error);
    EXPECT_EQ(result.exit_code, report.exit_code);
  }
}

TEST(AsOneLine, DropsTrailingLineBreaksAndJoinsInnerLinesWithASpace) {
  const struct {
    std::string_view text;
    std::string_view line;
  } cases[] = {
      {"Module not found.\r\n", "Module not found."},
      {"plain", "plain"},
      {"two\r\nlines\r\n", "two lines"},
      {"a\n\n\nb\r", "a b"},
      {"\r\n", ""},
      {"", ""},
  };
  for (const auto& test : cases) EXPECT_EQ(as_one_line(test.text), test.line) << ::testing::PrintToString(test.text);
}

TEST(NarrowForMessage, KeepsUnitsBelow256AsBytesAndStopsAtTheFirstWideOne) {
  EXPECT_EQ(narrow_for_message(L"plain"), "plain");
  EXPECT_EQ(narrow_for_message(L"\u00ff\u0100rest"), "\xff");
  EXPECT_EQ(narrow_for_message(L"\u4e2d"), "");
  EXPECT_EQ(narrow_for_message(L""), "");
}

}  // namespace
}  // namespace osvari::testing
