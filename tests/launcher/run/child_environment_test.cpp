// The two variables the child gets about the launcher: its folder and argv[0] as the user typed it.
#include "launcher/run/child_environment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "paths/environment.h"
#include "paths/executable_path.h"
#include "platform/processes.h"

namespace osvari {
namespace {

TEST(LauncherDirectoryOf, CutsBeforeTheLastBackslash) {
  struct Case {
    std::wstring_view path;
    std::wstring_view directory;
  };
  const Case cases[] = {
      {L"C:\\apps\\tool.exe", L"C:\\apps"},
      {L"C:\\tool.exe", L"C:"},
      {L"\\\\server\\share\\tool.exe", L"\\\\server\\share"},
      {L"C:\\apps\\", L"C:\\apps"},
      {L"\\tool.exe", L""},
      {L"tool.exe", L"tool.exe"},
      {L"", L""},
  };
  for (const auto& [path, directory] : cases) {
    EXPECT_EQ(launcher_directory_of(path), directory) << "for " << std::wstring(path);
  }
}

class SetChildEnvironment : public ::testing::Test {
 protected:
  void TearDown() override {
    set_environment_variable(L"OSVARI_ONEFILE_DIRECTORY", nullptr);
    set_environment_variable(L"OSVARI_ORIGINAL_ARGV0", nullptr);
  }
};

TEST_F(SetChildEnvironment, PublishesTheLauncherDirectoryAndArgv0AsGiven) {
  const std::wstring reported = get_executable_path(false);
  const std::wstring expected_directory = reported.substr(0, reported.rfind(L'\\'));
  for (const std::wstring argv0 : {L"tool", L"..\\some dir\\tool.exe", L"\"quoted\" t\u00e9st \u0416", L" "}) {
    set_child_environment(argv0.c_str());
    EXPECT_EQ(get_environment_value(L"OSVARI_ONEFILE_DIRECTORY"), expected_directory);
    EXPECT_EQ(get_environment_value(L"OSVARI_ORIGINAL_ARGV0"), argv0);
  }
  EXPECT_FALSE(expected_directory.ends_with(L'\\'));
}

}  // namespace
}  // namespace osvari
