// Unpacking on two threads, through the real launcher: a Ctrl-C while files are being written
// removes the folder, thousands of empty files and an entry past 4 GiB arrive whole.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"

namespace osvari::testing {
namespace {

BOOL WINAPI survive_console_event(DWORD) { return TRUE; }

// The launcher copy as a console program, so that it shares the console of whoever starts it
// and gets its Ctrl-C while it unpacks, before any child exists.
void make_console_program(const std::wstring& executable) {
  std::fstream file(std::filesystem::path(executable), std::ios::in | std::ios::out | std::ios::binary);
  std::uint32_t pe_offset = 0;
  file.seekg(0x3C);
  file.read(reinterpret_cast<char*>(&pe_offset), sizeof pe_offset);
  const std::uint16_t console_subsystem = 3;
  file.seekp(pe_offset + 24 + 68);  // the optional header's Subsystem field
  file.write(reinterpret_cast<const char*>(&console_subsystem), sizeof console_subsystem);
}

std::size_t files_below(const std::filesystem::path& directory) {
  std::error_code error;
  std::size_t count = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

TEST(OverlappedUnpack, CtrlCWhileFilesAreWrittenRemovesTheFolder) {
  SacrificialArea area;
  std::vector<TestEntry> entries = {{u"hosted_app.dll", built_library(L"hosted_app.dll")}};
  for (int i = 0; i < 8000; ++i) {
    const std::string name = std::string("d").append(std::to_string(i % 40)).append("\\f").append(std::to_string(i));
    entries.push_back({std::u16string(name.begin(), name.end()), varied_bytes(2000, i)});
  }
  OnefileFixture onefile(entries);
  make_console_program(onefile.launcher());

  FreeConsole();
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  SetConsoleCtrlHandler(survive_console_event, TRUE);
  ProcessResult result;
  std::thread run([&] { result = onefile.run({L"--exit", L"7"}, {.timeout_ms = 120'000}); });
  // Well inside the unpacking: a few hundred of the 8,000 files are there.
  bool unpacking = false;
  for (int attempt = 0; attempt < 20'000 && !unpacking; ++attempt) {
    for (const std::wstring& folder : onefile.unpack_directories()) {
      if (files_below(onefile.temp_directory() / folder) > 300) unpacking = true;
    }
    if (!unpacking) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const bool generated = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  run.join();
  FreeConsole();
  SetConsoleCtrlHandler(survive_console_event, FALSE);

  EXPECT_TRUE(unpacking);
  EXPECT_TRUE(generated) << GetLastError();
  EXPECT_FALSE(result.timed_out);
  // Ended by the event (Windows: STATUS_CONTROL_C_EXIT, Wine: 0), not by the application.
  EXPECT_TRUE(result.exit_code == 0xC000013Au || result.exit_code == 0u) << result.exit_code;
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(OverlappedUnpack, ThousandsOfEmptyFilesAreAllCreated) {
  std::vector<TestEntry> entries = {{u"hosted_app.dll", built_library(L"hosted_app.dll")}};
  for (int i = 0; i < 5000; ++i) {
    const std::string name = std::string("e").append(std::to_string(i % 25)).append("\\empty").append(std::to_string(i));
    entries.push_back({std::u16string(name.begin(), name.end()), ""});
  }
  OnefileFixture onefile(entries);
  const ProcessResult result = onefile.run({L"--list-sizes", L"--exit", L"0"});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_error;
  std::size_t empty = 0;
  for (const std::string& line : lines_of(result.standard_output)) {
    if (line.starts_with("file e") && line.ends_with(" 0")) ++empty;
  }
  EXPECT_EQ(empty, 5000u);
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
}

TEST(OverlappedUnpack, AnEntryPast4GiBArrivesWithItsFullSize) {
  constexpr std::uint64_t huge = (std::uint64_t{1} << 32) + 1048576 + 7;
  OnefileFixture onefile(attached_data_generated(
      {{u"hosted_app.dll", 0, built_library(L"hosted_app.dll")}, {u"huge.bin", huge}, {u"after.txt", 3}}));
  const ProcessResult result = onefile.run({L"--list-sizes", L"--exit", L"0"}, {.timeout_ms = 600'000});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_error;
  const std::vector<std::string> lines = lines_of(result.standard_output);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "file huge.bin " + std::to_string(huge)), lines.end())
      << result.standard_output;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "file after.txt 3"), lines.end()) << result.standard_output;
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace osvari::testing
