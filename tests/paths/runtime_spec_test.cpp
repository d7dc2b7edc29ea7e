// Runtime spec expansion over a scripted environment.
#include "paths/runtime_spec.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/error_reporting.h"
#include "platform/shell.h"
#include "tests/support/exit_expectations.h"

namespace osvari::testing {
namespace {

class ScriptedEnvironment final : public RuntimeSpecEnvironment {
 public:
  std::wstring temp = L"C:\\T\\";
  bool temp_fails = false;
  std::map<int, std::wstring> folders = {{folder_profile, L"C:\\Users\\me"},
                                         {folder_local_app_data, L"C:\\Users\\me\\AppData\\Local\\"}};
  const wchar_t* argv0 = L"C:\\x\\App.EXE";
  std::map<std::string, std::wstring> variables;
  std::vector<std::pair<std::wstring, std::wstring>> published;
  std::uint32_t pid = 4321;
  std::uint64_t next_time = 133'000'000'000'000'000;

  std::uint32_t temp_path(wchar_t* buffer, std::uint32_t capacity) override {
    if (temp_fails) return 0;
    // Like GetTempPathW: the size it needs, terminator included, when it does not fit.
    if (temp.size() >= capacity) return static_cast<std::uint32_t>(temp.size() + 1);
    temp.copy(buffer, temp.size());
    buffer[temp.size()] = L'\0';
    return static_cast<std::uint32_t>(temp.size());
  }
  bool folder_path(int folder, wchar_t* buffer) override {
    const auto found = folders.find(folder);
    if (found == folders.end()) return false;
    found->second.copy(buffer, found->second.size());
    buffer[found->second.size()] = L'\0';
    return true;
  }
  const wchar_t* program() override { return argv0; }
  std::optional<std::wstring> environment_value(const char* name) override {
    const auto found = variables.find(name);
    if (found == variables.end() || found->second.empty()) return std::nullopt;  // empty counts as unset
    return found->second;
  }
  void set_environment_value(const wchar_t* name, const wchar_t* value) override {
    published.emplace_back(name, value);
    variables[std::string(name, name + std::wcslen(name))] = value;
  }
  std::uint32_t process_id() override { return pid; }
  std::uint64_t system_time() override { return next_time++; }  // never the same twice
  const wchar_t* company_name() override { return L"Acme Corp"; }
  const wchar_t* product_name() override { return L"Widget"; }
  const wchar_t* version_text() override { return L"4.5"; }
};

struct ExpansionCase {
  const char* label;
  const wchar_t* spec;
  const wchar_t* expected;
  std::map<std::string, std::wstring> variables = {};
  const wchar_t* argv0 = L"C:\\x\\App.EXE";
  std::wstring temp = L"C:\\T\\";
  std::map<int, std::wstring> folders = {{folder_profile, L"C:\\Users\\me"},
                                         {folder_local_app_data, L"C:\\Users\\me\\AppData\\Local\\"}};
};

ScriptedEnvironment environment_for(const ExpansionCase& c) {
  ScriptedEnvironment environment;
  environment.variables = c.variables;
  environment.argv0 = c.argv0;
  environment.temp = c.temp;
  environment.folders = c.folders;
  return environment;
}

std::string label_of(const ::testing::TestParamInfo<ExpansionCase>& info) { return info.param.label; }

class Expands : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(Expands, ToTheExpectedPath) {
  ScriptedEnvironment environment = environment_for(GetParam());
  BoundedWideString<4096> output;
  ASSERT_TRUE(output.assign(L"earlier contents"));
  EXPECT_TRUE(expand_runtime_spec(output, GetParam().spec, environment));
  EXPECT_EQ(output.view(), GetParam().expected);
  EXPECT_EQ(output.c_str()[output.size()], L'\0');
}

const std::map<std::string, std::wstring> parent_and_start = {{"OSVARI_ONEFILE_PARENT", L"1234"},
                                                              {"OSVARI_ONEFILE_START", L"5678"}};

INSTANTIATE_TEST_SUITE_P(
    Syntax, Expands,
    ::testing::Values(ExpansionCase{"empty", L"", L""},
                      ExpansionCase{"literal_only", L"plain\\text.txt", L"plain\\text.txt"},
                      ExpansionCase{"upper_case_name", L"{TEMP}", L"C:\\T"},
                      ExpansionCase{"lower_case_name", L"{temp}", L"C:\\T"},
                      ExpansionCase{"mixed_case_name", L"{Temp}", L"C:\\T"},
                      ExpansionCase{"mixed_case_long_name", L"{program_Dir}", L"C:\\x"},
                      ExpansionCase{"open_placeholder_at_end_dropped", L"a{TEMP", L"a"},
                      ExpansionCase{"open_brace_restarts_name", L"{x{TEMP}", L"C:\\T"},
                      ExpansionCase{"unpack_directory", L"{TEMP}\\onefile_{PID}_{TIME}", L"C:\\T\\onefile_1234_5678",
                                    parent_and_start},
                      ExpansionCase{"placeholders_between_literals", L"<{COMPANY}|{PRODUCT}|{VERSION}>",
                                    L"<Acme Corp|Widget|4.5>"}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    Trimming, Expands,
    ::testing::Values(
        ExpansionCase{"temp_trailing_backslashes", L"{TEMP}", L"C:\\T", {}, L"", L"C:\\T\\\\\\"},
        ExpansionCase{"temp_of_only_a_backslash_trims_the_literal_too", L"x\\\\{TEMP}", L"x", {}, L"", L"\\"},
        ExpansionCase{"temp_followed_by_literal_backslash_is_kept", L"{TEMP}\\", L"C:\\T\\"},
        ExpansionCase{"home_at_drive_root", L"{HOME}", L"C:", {}, L"", L"C:\\T\\", {{folder_profile, L"C:\\"}}},
        ExpansionCase{"empty_home_trims_backslash_before_it", L"a\\{HOME}", L"a", {}, L"", L"C:\\T\\",
                      {{folder_profile, L""}}},
        ExpansionCase{"cache_directory", L"{CACHE_DIR}\\app", L"C:\\Users\\me\\AppData\\Local\\app"},
        ExpansionCase{"empty_cache_directory_trims_backslashes_before_it", L"a\\\\{CACHE_DIR}", L"a", {}, L"",
                      L"C:\\T\\", {{folder_local_app_data, L""}}},
        ExpansionCase{"trimming_stops_at_start", L"\\{HOME}", L"", {}, L"", L"C:\\T\\", {{folder_profile, L"\\"}}},
        ExpansionCase{"forward_slashes_stay", L"{HOME}", L"C:/u/", {}, L"", L"C:\\T\\", {{folder_profile, L"C:/u/"}}},
        ExpansionCase{"program_is_not_trimmed", L"a\\{PROGRAM}", L"a\\dir\\", {}, L"dir\\"}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    ProcessIdentity, Expands,
    ::testing::Values(ExpansionCase{"own_process_id", L"{PID}", L"4321"},
                      ExpansionCase{"parent_with_leading_zeros", L"{PID}", L"0042", {{"OSVARI_ONEFILE_PARENT", L"0042"}}},
                      ExpansionCase{"empty_parent_counts_as_unset", L"{PID}", L"4321", {{"OSVARI_ONEFILE_PARENT", L""}}},
                      ExpansionCase{"start_that_is_no_number", L"{TIME}", L"soon", {{"OSVARI_ONEFILE_START", L"soon"}}},
                      ExpansionCase{"start_with_dots_and_colon", L"{TIME}", L"..:x", {{"OSVARI_ONEFILE_START", L"..:x"}}}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    Program, Expands,
    ::testing::Values(ExpansionCase{"program", L"{PROGRAM}", L"C:\\x\\App.EXE"},
                      ExpansionCase{"base_of_full_path", L"{PROGRAM_BASE}", L"C:\\x\\App"},
                      ExpansionCase{"directory_of_full_path", L"{PROGRAM_DIR}", L"C:\\x"},
                      ExpansionCase{"directory_without_backslash", L"{PROGRAM_DIR}", L"app.exe", {}, L"app.exe"},
                      ExpansionCase{"directory_at_root", L"{PROGRAM_DIR}", L"", {}, L"\\app.exe"},
                      ExpansionCase{"base_of_only_extension", L"{PROGRAM_BASE}", L"", {}, L".exe"},
                      ExpansionCase{"base_of_three_units", L"{PROGRAM_BASE}", L"exe", {}, L"exe"},
                      ExpansionCase{"base_removes_last_extension_only", L"{PROGRAM_BASE}", L"app.exe", {}, L"app.exe.exe"},
                      ExpansionCase{"base_keeps_other_extension", L"{PROGRAM_BASE}", L"app.com", {}, L"app.com"},
                      ExpansionCase{"base_looks_only_at_argv0", L".ex{PROGRAM_BASE}", L".exe", {}, L"e"},
                      ExpansionCase{"directory_looks_only_at_argv0", L"a\\b_{PROGRAM_DIR}", L"a\\b_app.exe", {}, L"app.exe"},
                      ExpansionCase{"empty_program", L"[{PROGRAM}]", L"[]", {}, L""}),
    label_of);

struct FailureCase {
  const char* label;
  const wchar_t* spec;
  const wchar_t* output_so_far;
};

class FailsToExpand : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailsToExpand, KeepingTheTextProducedSoFar) {
  ScriptedEnvironment environment;
  BoundedWideString<4096> output;
  EXPECT_FALSE(expand_runtime_spec(output, GetParam().spec, environment));
  EXPECT_EQ(output.view(), GetParam().output_so_far);
  EXPECT_TRUE(environment.published.empty());
}

INSTANTIATE_TEST_SUITE_P(Names, FailsToExpand,
                         ::testing::Values(FailureCase{"empty_name", L"{}", L""},
                                           FailureCase{"name_with_space", L"{ TEMP}", L""},
                                           FailureCase{"unknown_name", L"ab{NOPE}cd", L"ab"},
                                           FailureCase{"unknown_after_restart", L"{TEMP{x}", L""},
                                           FailureCase{"later_placeholder_unknown", L"{PID}\\{TIMES}", L"4321\\"},
                                           FailureCase{"close_without_open", L"a}b", L"a"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(RuntimeSpecExpansion, FailsWhenAFolderCannotBeHad) {
  for (const auto& [spec, folder] : {std::pair{L"x{HOME}", folder_profile}, {L"x{CACHE_DIR}", folder_local_app_data}}) {
    ScriptedEnvironment environment;
    environment.folders.erase(folder);
    BoundedWideString<4096> output;
    EXPECT_FALSE(expand_runtime_spec(output, spec, environment)) << spec;
    EXPECT_EQ(output.view(), L"x");
  }
}

TEST(RuntimeSpecExpansion, FailsWhenTheTemporaryDirectoryCannotBeHad) {
  ScriptedEnvironment environment;
  environment.temp_fails = true;
  BoundedWideString<4096> output;
  EXPECT_FALSE(expand_runtime_spec(output, L"x\\{TEMP}", environment));
  EXPECT_EQ(output.view(), L"x\\");
}

TEST(RuntimeSpecExpansion, TemporaryDirectoryFitsExactlyOrFailsUncut) {
  BoundedWideString<8> output;
  ScriptedEnvironment environment;
  environment.temp = L"C:\\abc\\";  // 7 code units and the terminator: exactly 8
  EXPECT_TRUE(expand_runtime_spec(output, L"{TEMP}", environment));
  EXPECT_EQ(output.view(), L"C:\\abc");

  environment.temp = L"C:\\abcd\\";
  EXPECT_FALSE(expand_runtime_spec(output, L"{TEMP}", environment));
  EXPECT_EQ(output.view(), L"");
  EXPECT_FALSE(expand_runtime_spec(output, L"a{TEMP}", environment));
  EXPECT_EQ(output.view(), L"a");
}

TEST(RuntimeSpecExpansion, LiteralsFillTheCapacityLessTheTerminator) {
  ScriptedEnvironment environment;
  BoundedWideString<8> output;
  EXPECT_TRUE(expand_runtime_spec(output, L"abcdefg", environment));
  EXPECT_EQ(output.view(), L"abcdefg");
  EXPECT_FALSE(expand_runtime_spec(output, L"abcdefgh", environment));
  EXPECT_EQ(output.view(), L"abcdefg");
  EXPECT_FALSE(expand_runtime_spec(output, L"{PID}abcd", environment));  // 4321 takes half the room
  EXPECT_EQ(output.view(), L"4321abc");
}

TEST(RuntimeSpecExpansion, ValueThatFitsExactlyIsAppended) {
  ScriptedEnvironment environment;
  environment.argv0 = L"C:\\abcd";
  BoundedWideString<8> output;
  EXPECT_TRUE(expand_runtime_spec(output, L"{PROGRAM}", environment));
  EXPECT_EQ(output.view(), L"C:\\abcd");
}

TEST(RuntimeSpecExpansionDeathTest, ValueOneUnitTooLongEndsTheRun) {
  ScriptedEnvironment environment;
  environment.argv0 = L"C:\\abcde";
  BoundedWideString<8> output;
  EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, L"{PROGRAM}", environment),
                        "a runtime spec value does not fit in the output buffer");
  EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, L"abcd{PID}", environment),
                        "a runtime spec value does not fit in the output buffer");
}

TEST(RuntimeSpecExpansion, LongestPlaceholderNameIsStillMatched) {
  ScriptedEnvironment environment;
  BoundedWideString<4096> output;
  const std::wstring spec = L"{" + std::wstring(1023, L'A') + L"}";
  EXPECT_FALSE(expand_runtime_spec(output, spec.c_str(), environment));
}

TEST(RuntimeSpecExpansionDeathTest, PlaceholderNameBeyondItsBufferEndsTheRun) {
  ScriptedEnvironment environment;
  BoundedWideString<4096> output;
  const std::wstring spec = L"{" + std::wstring(1024, L'A') + L"}";
  EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, spec.c_str(), environment),
                        "a placeholder name does not fit in 1024 code units");
}

TEST(RuntimeSpecExpansionDeathTest, ParentThatIsNoProcessIdEndsTheRun) {
  for (const wchar_t* parent : {L"12a", L"-1", L" 12", L"1.5", L"0x10"}) {
    ScriptedEnvironment environment;
    environment.variables["OSVARI_ONEFILE_PARENT"] = parent;
    BoundedWideString<4096> output;
    EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, L"{PID}", environment),
                          "OSVARI_ONEFILE_PARENT does not hold a process id")
        << narrow_for_message(parent);
  }
}

TEST(RuntimeSpecExpansionDeathTest, StartTimeHoldingAPathEndsTheRun) {
  for (const wchar_t* start : {L"..\\..\\Windows", L"a/b", L"\\", L"1/"}) {
    ScriptedEnvironment environment;
    environment.variables["OSVARI_ONEFILE_START"] = start;
    BoundedWideString<4096> output;
    EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, L"{TEMP}\\onefile_{PID}_{TIME}", environment),
                          "OSVARI_ONEFILE_START holds a path separator")
        << narrow_for_message(start);
  }
}

TEST(RuntimeSpecExpansionDeathTest, MissingArgv0EndsTheRun) {
  for (const wchar_t* spec : {L"{PROGRAM}", L"{PROGRAM_BASE}", L"{PROGRAM_DIR}"}) {
    ScriptedEnvironment environment;
    environment.argv0 = nullptr;
    BoundedWideString<4096> output;
    EXPECT_INTERNAL_LIMIT((void)expand_runtime_spec(output, spec, environment), "argv\\[0\\] is missing")
        << narrow_for_message(spec);
  }
}

TEST(RuntimeSpecExpansion, FreshTimeStampIsPublishedOnceAndReused) {
  ScriptedEnvironment environment;
  environment.next_time = 133'485'408'000'000'123;
  BoundedWideString<4096> first;
  BoundedWideString<4096> second;
  ASSERT_TRUE(expand_runtime_spec(first, L"{TIME}_{TIME}", environment));
  ASSERT_TRUE(expand_runtime_spec(second, L"{time}", environment));

  EXPECT_EQ(first.view(), L"133485408000000123_133485408000000123");
  EXPECT_EQ(second.view(), L"133485408000000123");
  ASSERT_EQ(environment.published.size(), 1u);
  EXPECT_EQ(environment.published[0].first, L"OSVARI_ONEFILE_START");
  EXPECT_EQ(environment.published[0].second, L"133485408000000123");
}

TEST(RuntimeSpecExpansion, TimeStampIsSignedDecimal) {
  ScriptedEnvironment environment;
  environment.next_time = 0xFFFF'FFFF'FFFF'FFFEull;  // a file time beyond the signed range
  BoundedWideString<4096> output;
  ASSERT_TRUE(expand_runtime_spec(output, L"{TIME}", environment));
  EXPECT_EQ(output.view(), L"-2");
}

TEST(RuntimeSpecExpansion, GivenStartTimeIsNotPublishedAgain) {
  ScriptedEnvironment environment;
  environment.variables["OSVARI_ONEFILE_START"] = L"5678";
  BoundedWideString<4096> output;
  ASSERT_TRUE(expand_runtime_spec(output, L"{TIME}", environment));
  EXPECT_EQ(output.view(), L"5678");
  EXPECT_TRUE(environment.published.empty());
}

}  // namespace
}  // namespace osvari::testing
