// A real Ctrl-C while the application runs: both processes end and the unpack folder goes.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/console_interrupt.h"
#include "tests/support/onefile_runner.h"

namespace osvari::testing {
namespace {

TEST(ConsoleEvent, CtrlCDuringALongRunningChildRemovesTheUnpackFolderAndEndsBoth) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {u"data\\file.txt", "data"}});
  const auto ready_file = onefile.temp_directory() / L"ready.txt";

  const InterruptedRun interrupted = run_with_ctrl_c(
      [&] {
        return onefile.run({L"--attach-console", std::to_wstring(GetCurrentProcessId()), L"--write-parent",
                            ready_file.wstring(), L"--sleep", L"30000"},
                           {.timeout_ms = 25'000});
      },
      ready_file);
  const ProcessResult& result = interrupted.result;

  EXPECT_TRUE(interrupted.ready);
  EXPECT_TRUE(interrupted.generated) << interrupted.generate_error;
  EXPECT_FALSE(result.timed_out) << result.standard_output << result.standard_error;
  // The system's default handler ends the processes: Windows with STATUS_CONTROL_C_EXIT,
  // Wine with 0.
  EXPECT_TRUE(result.exit_code == 0xC000013Au || result.exit_code == 0u) << result.exit_code;
  EXPECT_EQ(result.standard_error, "");
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

}  // namespace
}  // namespace osvari::testing
