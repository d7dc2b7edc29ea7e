// Runtime spec expansion against the running process and the real system.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/error_reporting.h"
#include "paths/environment.h"
#include "paths/runtime_spec.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "tests/support/exit_expectations.h"

namespace osvari::testing {
namespace {

// Sets or removes a variable for one test and puts the old value back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name), saved_(get_environment_value(name)) {
    set_environment_variable(name, value);
  }
  ~ScopedVariable() { set_environment_variable(name_, saved_ ? saved_->c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
  std::optional<std::wstring> saved_;
};

std::wstring without_trailing_backslashes(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring expanded(const wchar_t* spec) {
  BoundedWideString<4096> output;
  EXPECT_TRUE(expand_runtime_spec(output, spec)) << narrow_for_message(spec);
  return std::wstring(output.view());
}

TEST(RuntimeSpecOnTheSystem, TempIsTheTemporaryDirectoryWithoutTrailingBackslash) {
  wchar_t temp[4096] = {};
  const std::uint32_t length = get_temp_path(temp, 4096);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, 4096u);
  ASSERT_EQ(temp[length - 1], L'\\');

  const std::wstring result = expanded(L"{TEMP}");
  EXPECT_FALSE(result.empty());
  EXPECT_NE(result.back(), L'\\');
  EXPECT_EQ(result, without_trailing_backslashes(temp));
}

TEST(RuntimeSpecOnTheSystem, HomeAndCacheDirAreTheShellFolders) {
  for (const auto& [spec, folder] : {std::pair{L"{HOME}", folder_profile}, {L"{CACHE_DIR}", folder_local_app_data}}) {
    wchar_t path[folder_path_capacity] = {};
    ASSERT_TRUE(get_folder_path(folder, path));
    EXPECT_EQ(expanded(spec), without_trailing_backslashes(path));
  }
}

TEST(RuntimeSpecOnTheSystem, PidIsTheParentOrThisProcess) {
  {
    ScopedVariable parent(L"OSVARI_ONEFILE_PARENT", nullptr);
    EXPECT_EQ(expanded(L"{PID}"), std::to_wstring(current_process_id()));
  }
  {
    ScopedVariable parent(L"OSVARI_ONEFILE_PARENT", L"");  // an empty value reads as unset
    EXPECT_EQ(expanded(L"{PID}"), std::to_wstring(current_process_id()));
  }
  {
    ScopedVariable parent(L"OSVARI_ONEFILE_PARENT", L"0042");
    EXPECT_EQ(expanded(L"{PID}"), L"0042");
  }
}

TEST(RuntimeSpecOnTheSystemDeathTest, ParentWithLetterEndsTheRun) {
  ScopedVariable parent(L"OSVARI_ONEFILE_PARENT", L"12a");
  EXPECT_INTERNAL_LIMIT((void)expanded(L"{PID}"), "OSVARI_ONEFILE_PARENT does not hold a process id");
}

TEST(RuntimeSpecOnTheSystem, TimeIsPublishedAndThenReused) {
  ScopedVariable start(L"OSVARI_ONEFILE_START", nullptr);
  const std::wstring first = expanded(L"{TIME}");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.find_first_not_of(L"0123456789"), std::wstring::npos);
  EXPECT_EQ(get_environment_value(L"OSVARI_ONEFILE_START"), first);
  EXPECT_EQ(expanded(L"{TIME}"), first);
}

TEST(RuntimeSpecOnTheSystem, UnpackDirectoryJoinsTheParts) {
  ScopedVariable parent(L"OSVARI_ONEFILE_PARENT", L"1234");
  ScopedVariable start(L"OSVARI_ONEFILE_START", L"5678");
  wchar_t temp[4096] = {};
  ASSERT_GT(get_temp_path(temp, 4096), 0u);
  EXPECT_EQ(expanded(L"{TEMP}\\onefile_{PID}_{TIME}"), without_trailing_backslashes(temp) + L"\\onefile_1234_5678");
}

TEST(RuntimeSpecOnTheSystem, BuildConstantsAreTheLinkedOnes) {
  EXPECT_EQ(expanded(L"{COMPANY}|{PRODUCT}|{VERSION}"), L"Test Company|Test Product|1.2.3-test");
}

TEST(RuntimeSpecOnTheSystem, ProgramIsTheRuntimeArgv0) {
  wchar_t** arguments = runtime_argument_vector();
  ASSERT_NE(arguments, nullptr);
  ASSERT_NE(arguments[0], nullptr);
  EXPECT_EQ(expanded(L"{PROGRAM}"), arguments[0]);
}

}  // namespace
}  // namespace osvari::testing
