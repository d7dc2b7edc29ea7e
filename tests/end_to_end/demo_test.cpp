// The demo executable that the packaging function builds runs from its one file.
#include <gtest/gtest.h>

#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

TEST(Demo, RunsItsApplicationWithItsDataAndLeavesNothingBehind) {
  TemporaryDirectory temp;
  const ProcessResult result =
      run_program(build_output_directory() + L"\\osvari-demo.exe", {L"\"an argument\"", L"--exit-code", L"5"},
                  {.environment = {{L"TEMP", temp.path().wstring()}, {L"TMP", temp.path().wstring()}}});
  const std::string output = without_carriage_returns(result.standard_output);
  EXPECT_EQ(result.exit_code, 5u) << output << result.standard_error;
  EXPECT_NE(output.find("  [1] an argument\n"), std::string::npos) << output;
  EXPECT_NE(output.find("nested\\deeper\\notes.txt (25 bytes)"), std::string::npos) << output;
  EXPECT_NE(output.find("greeting.txt says: Packed in one file, unpacked for the run, gone afterwards."),
            std::string::npos)
      << output;
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

}  // namespace
}  // namespace osvari::testing
