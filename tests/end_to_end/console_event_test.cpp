// A real Ctrl-C while the application runs: both processes end and the unpack folder goes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/win32.h"
#include "tests/support/onefile_runner.h"

namespace osvari::testing {
namespace {

BOOL WINAPI survive_console_event(DWORD) { return TRUE; }

TEST(ConsoleEvent, CtrlCDuringALongRunningChildRemovesTheUnpackFolderAndEndsBoth) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {u"data\\file.txt", "data"}});
  const auto ready_file = onefile.temp_directory() / L"ready.txt";

  FreeConsole();
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  // This test program survives the event by handling it. Ignoring it with a null handler
  // would be inherited by the launcher and keep the event from its handlers.
  SetConsoleCtrlHandler(survive_console_event, TRUE);

  ProcessResult result;
  std::thread run([&] {
    result = onefile.run({L"--attach-console", std::to_wstring(GetCurrentProcessId()), L"--write-parent",
                          ready_file.wstring(), L"--sleep", L"30000"},
                         {.timeout_ms = 25'000});
  });
  for (int attempt = 0; attempt < 200 && !std::filesystem::exists(ready_file); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const bool ready = std::filesystem::exists(ready_file);
  EXPECT_TRUE(ready);
  const bool generated = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  run.join();
  FreeConsole();
  SetConsoleCtrlHandler(survive_console_event, FALSE);

  EXPECT_TRUE(generated) << GetLastError();
  EXPECT_FALSE(result.timed_out) << result.standard_output << result.standard_error;
  // The system's default handler ends the processes: Windows with STATUS_CONTROL_C_EXIT,
  // Wine with 0.
  EXPECT_TRUE(result.exit_code == 0xC000013Au || result.exit_code == 0u) << result.exit_code;
  EXPECT_EQ(result.standard_error, "");
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

}  // namespace
}  // namespace osvari::testing
