// A disk that fills up while unpacking: the failed write is reported with the system's code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/onefile_runner.h"
#include "tests/support/system_text.h"

namespace osvari::testing {
namespace {

TEST(FullDisk, AFailedWriteIsReportedWithTheSystemCodeAndText) {
  const wchar_t* small_disk = _wgetenv(L"OSVARI_TEST_SMALL_DISK");
  if (small_disk == nullptr) GTEST_SKIP() << "needs a small disk: run through tests/end_to_end/with_small_disk.sh";
  // Larger than the whole disk, so some write must fail.
  OnefileFixture onefile({{u"main.dll", varied_bytes(3 << 20)}});
  const ProcessResult result = onefile.run({}, {.environment = {{L"TEMP", small_disk}, {L"TMP", small_disk}}});

  const std::uint32_t disk_full = 112;  // ERROR_DISK_FULL
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(without_carriage_returns(result.standard_error),
            without_carriage_returns("Error, couldn't unpack file to target path. ([Error " + std::to_string(disk_full) +
                                     "] " + system_text_in_report(disk_full) + ")\n"));
  EXPECT_EQ(result.exit_code, 2u);
  // The partial files go with the failure, so the disk is not left full.
  for (const auto& entry : std::filesystem::directory_iterator(small_disk)) {
    EXPECT_FALSE(entry.path().filename().wstring().starts_with(L"onefile_")) << entry.path();
  }
}

}  // namespace
}  // namespace osvari::testing
