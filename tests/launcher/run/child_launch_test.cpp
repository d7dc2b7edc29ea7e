// Real launches: the probe runs launch_child and starts itself as the child, which reports
// the arguments its runtime parsed or ends with a chosen exit code.
#include "launcher/run/child_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"
#include "tests/support/system_text.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

std::wstring probe_path() { return build_output_directory() + L"\\launch_probe.exe"; }

using Environment = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;

ProcessOptions launch_options(const std::wstring& child_mode, Environment more = {}) {
  ProcessOptions options;
  options.environment = {{L"OSVARI_PROBE", L"launch"}, {L"OSVARI_PROBE_CHILD", child_mode}};
  options.environment.insert(options.environment.end(), more.begin(), more.end());
  return options;
}

// The echo child writes each argument as a line of hexadecimal code units.
std::vector<std::wstring> decode_arguments(const std::string& output) {
  std::vector<std::wstring> arguments;
  std::istringstream lines(without_carriage_returns(output));
  std::string line;
  while (std::getline(lines, line)) {
    std::wstring argument;
    std::istringstream units(line);
    unsigned unit = 0;
    while (units >> std::hex >> unit) argument.push_back(static_cast<wchar_t>(unit));
    arguments.push_back(argument);
  }
  return arguments;
}

std::vector<std::wstring> split_after_program_name(const std::wstring& command_line) {
  const SplitArguments split(command_line.c_str());
  std::vector<std::wstring> arguments;
  for (int index = 1; index < split.count(); ++index) arguments.emplace_back(split[index]);
  return arguments;
}

struct ArgumentsCase {
  const char* label;
  std::wstring arguments;  // as typed after the program name
  std::vector<std::wstring> expected;
};

class ChildArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(ChildArguments, ArriveAsTheParentSplitThemWithTheFullModulePathFirst) {
  TemporaryDirectory directory;
  // A blank in the module path makes argument 0 need quotes as well.
  const std::filesystem::path probe = directory.path() / L"with blank" / L"probe.exe";
  std::filesystem::create_directories(probe.parent_path());
  std::filesystem::copy_file(probe_path(), probe);

  const std::wstring command_line = L"typed-name " + GetParam().arguments;
  const ProcessResult result = run_process(probe.wstring(), command_line, launch_options(L"echo"));
  ASSERT_EQ(result.exit_code, 0u) << result.standard_error;

  std::vector<std::wstring> expected = {probe.wstring()};
  expected.insert(expected.end(), GetParam().expected.begin(), GetParam().expected.end());
  EXPECT_EQ(decode_arguments(result.standard_output), expected);
  EXPECT_EQ(split_after_program_name(command_line), GetParam().expected) << "the table disagrees with the split";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChildArguments,
    ::testing::Values(
        ArgumentsCase{"none", L"", {}},
        ArgumentsCase{"plain", L"one two", {L"one", L"two"}},
        ArgumentsCase{"blank_tab_and_empty",
                      L"\"with blank\" \"\" \"tab\there\" \"\" end",
                      {L"with blank", L"", L"tab\there", L"", L"end"}},
        ArgumentsCase{"quotes_and_backslashes",
                      L"a\\\"b \"c\\\\\" \\\\server\\share\\ \"x \\\\\\\"y\" \\\"",
                      {L"a\"b", L"c\\", L"\\\\server\\share\\", L"x \\\"y", L"\""}},
        ArgumentsCase{"line_feed_and_vertical_tab", L"\"a\nb\" \"c\vd\"", {L"a\nb", L"c\vd"}},
        ArgumentsCase{"non_ascii", L"\u0416\u00e9 \"\u0416 \u00e9\"", {L"\u0416\u00e9", L"\u0416 \u00e9"}}),
    [](const auto& info) { return std::string(info.param.label); });

class ChildExitCode : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ChildExitCode, IsPassedOnWithAll32Bits) {
  const ProcessResult result =
      run_program(probe_path(), {}, launch_options(L"exit", {{L"OSVARI_PROBE_EXIT_CODE", std::to_wstring(GetParam())}}));
  EXPECT_EQ(result.exit_code, GetParam()) << result.standard_output << result.standard_error;
}

INSTANTIATE_TEST_SUITE_P(Values, ChildExitCode, ::testing::Values(0u, 3u, 300u, 259u, 0xC0000005u, 0xFFFFFFFFu));

TEST(ChildLaunch, RemovesTheUnpackDirectoryAfterTheChildHasEnded) {
  TemporaryDirectory directory;
  const std::filesystem::path unpack = directory.path() / L"unpack";
  write_file(unpack / L"sub" / L"file.txt", "data");
  const ProcessResult result = run_program(
      probe_path(), {}, launch_options(L"exit", {{L"OSVARI_PROBE_EXIT_CODE", L"7"}, {L"OSVARI_PROBE_UNPACK_DIRECTORY", unpack.wstring()}}));
  EXPECT_EQ(result.exit_code, 7u) << result.standard_output << result.standard_error;
  EXPECT_FALSE(std::filesystem::exists(unpack));
}

TEST(ChildLaunch, CommandLineBeyond32766UnitsEndsTheRunBeforeLaunching) {
  TemporaryDirectory directory;
  const std::filesystem::path unpack = directory.path() / L"unpack";
  write_file(unpack / L"file.txt", "data");
  // Fits in the parent's own command line; with the full module path as argument 0 the child's
  // line (path, blank, argument) would need 32767 units.
  const std::wstring command_line = L"p " + std::wstring(32766 - probe_path().size(), L'a');
  ASSERT_LE(command_line.size(), 32767u);
  const ProcessResult result = run_process(
      probe_path(), command_line, launch_options(L"echo", {{L"OSVARI_PROBE_UNPACK_DIRECTORY", unpack.wstring()}}));
  EXPECT_EQ(without_carriage_returns(result.standard_output),
            "Error, internal limit reached: the command line does not fit in 32767 code units.\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_TRUE(std::filesystem::exists(unpack / L"file.txt"));
}

// The longest line CreateProcessW passes on whole: 32766 units and the terminator.
TEST(ChildLaunch, CommandLineOf32766UnitsArrivesWhole) {
  const std::wstring command_line = L"p " + std::wstring(32765 - probe_path().size(), L'a');
  const ProcessResult result = run_process(probe_path(), command_line, launch_options(L"echo"));
  ASSERT_EQ(result.exit_code, 0u) << result.standard_output.substr(0, 200);
  const auto arguments = decode_arguments(result.standard_output);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(arguments[0], probe_path());
  EXPECT_EQ(arguments[1], std::wstring(32765 - probe_path().size(), L'a'));
}

TEST(ChildLaunch, ChildThatCannotBeStartedIsReportedAndTheUnpackDirectoryStays) {
  TemporaryDirectory directory;
  const std::filesystem::path probe = directory.path() / L"probe.exe";
  std::filesystem::copy_file(probe_path(), probe);
  const std::filesystem::path unpack = directory.path() / L"unpack";
  write_file(unpack / L"file.txt", "data");
  // The probe moves its own file away, so starting it again finds nothing.
  const ProcessResult result =
      run_program(probe.wstring(), {},
                  launch_options(L"echo", {{L"OSVARI_PROBE_UNPACK_DIRECTORY", unpack.wstring()},
                                           {L"OSVARI_PROBE_RENAME_SELF_TO", (directory.path() / L"moved.exe").wstring()}}));
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(without_carriage_returns(result.standard_error),
            without_carriage_returns("Error, couldn't launch child ([Error 2] " + system_text_in_report(2) + ")\n"));
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_TRUE(std::filesystem::exists(unpack / L"file.txt"));
}

TEST(LoaderFailure, OnlyTheLoadersOwnStatusesMeanTheProgramNeverRan) {
  const std::pair<std::uint32_t, std::optional<std::uint32_t>> cases[] = {
      {0xC0000135, 126}, {0xC0000139, 127}, {0xC0000138, 182}, {0xC000007B, 193}, {0xC0000142, 1114},
      {0, std::nullopt}, {2, std::nullopt}, {126, std::nullopt}, {0xC0000005, std::nullopt},
      {0xC000013A, std::nullopt}, {0xFFFFFFFF, std::nullopt},
  };
  for (const auto& [exit_code, expected] : cases) EXPECT_EQ(loader_failure_code(exit_code), expected) << exit_code;
}

}  // namespace
}  // namespace osvari::testing
