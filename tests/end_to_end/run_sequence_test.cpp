// The whole flow through the real launcher: unpack, child, hand-off, exit code, removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/system_text.h"

namespace osvari::testing {
namespace {

std::vector<TestEntry> application_with_data() {
  return {
      {u"hosted_app.dll", built_library(L"hosted_app.dll")},
      {u"empty.txt", ""},
      {u"exactly_one_chunk.bin", varied_bytes(32768, 2)},
      {u"one_chunk_and_a_byte.bin", varied_bytes(32769, 3)},
      {u"nested\\deeper\\notes.txt", "two folders down"},
      {u"nested\\second.txt", "same folder as another entry"},
      {u"nested\\\u00e9t\u00e9-\u03a9.txt", "a name beyond ASCII"},
      {u"large.bin", varied_bytes(3'000'000, 4)},
  };
}

std::string utf8_name(const std::u16string& name) {
  std::u8string converted = std::filesystem::path(std::u16string(name)).u8string();
  return std::string(converted.begin(), converted.end());
}

TEST(RunSequence, UnpacksEveryFileRunsTheLibraryAndRemovesTheFolder) {
  const auto entries = application_with_data();
  OnefileFixture onefile(entries);
  const ProcessResult result = onefile.run({L"--list-files", L"--print-dir", L"--exit", L"7"});

  EXPECT_EQ(result.exit_code, 7u) << result.standard_output << result.standard_error;
  EXPECT_EQ(result.standard_error, "");
  std::vector<std::string> listed;
  for (const auto& line : lines_of(result.standard_output)) {
    if (line.starts_with("file ")) listed.push_back(line);
  }
  std::vector<std::string> expected;
  for (const auto& entry : entries) {
    std::string name = utf8_name(entry.name);
    std::replace(name.begin(), name.end(), '\\', '/');
    expected.push_back("file " + name + " " + std::to_string(entry.contents.size()) + " " + fnv1a_hex(entry.contents));
  }
  for (auto* list : {&listed, &expected}) {
    for (auto& line : *list) std::replace(line.begin(), line.end(), '\\', '/');
    std::sort(list->begin(), list->end());
  }
  EXPECT_EQ(listed, expected);

  const std::string directory = value_of(result.standard_output, "dir");
  const std::string temp = onefile.temp_directory().string();
  EXPECT_TRUE(directory.starts_with(temp + "\\onefile_")) << directory;
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

class ExitCode : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ExitCode, PassesThroughTheParentUnchanged) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}});
  const ProcessResult result = onefile.run({L"--exit", std::to_wstring(GetParam())});
  EXPECT_EQ(result.exit_code, GetParam());
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCode, ::testing::Values(0u, 3u, 7u, 255u, 256u, 259u, 300u, 0xC0000005u, 0xFFFFFFFFu));

TEST(RunSequence, TheChildSeesTheFourVariables) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}});
  const std::wstring typed_name = L"typed-by-the-user";
  const ProcessResult result =
      run_process(onefile.launcher(), typed_name + L" --print-env --print-dir",
                  {.environment = {{L"TEMP", onefile.temp_directory().wstring()},
                                   {L"TMP", onefile.temp_directory().wstring()}}});
  ASSERT_EQ(result.exit_code, 0u) << result.standard_output;
  const std::string parent = value_of(result.standard_output, "OSVARI_ONEFILE_PARENT");
  const std::string start = value_of(result.standard_output, "OSVARI_ONEFILE_START");
  EXPECT_FALSE(parent.empty());
  EXPECT_TRUE(std::all_of(parent.begin(), parent.end(), ::isdigit)) << parent;
  EXPECT_TRUE(std::all_of(start.begin(), start.end(), ::isdigit)) << start;
  EXPECT_EQ(value_of(result.standard_output, "dir"),
            onefile.temp_directory().string() + "\\onefile_" + parent + "_" + start);
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ONEFILE_DIRECTORY"),
            std::filesystem::path(onefile.launcher()).parent_path().string());
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ORIGINAL_ARGV0"), "typed-by-the-user");
}

// shell32 drags a dozen libraries into every start; only the parent's split of its command line
// and the folder lookups of "{HOME}" and "{CACHE_DIR}" need it.
TEST(RunSequence, TheChildStartsWithoutTheShellLibrary) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}});
  const ProcessResult result =
      run_process(onefile.launcher(), L"app \"two words\" --print-args --print-shell32",
                  {.environment = {{L"TEMP", onefile.temp_directory().wstring()},
                                   {L"TMP", onefile.temp_directory().wstring()}}});
  ASSERT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_EQ(value_of(result.standard_output, "shell32"), "absent");
  // The parent still split its command line: the quoted argument arrives whole.
  EXPECT_EQ(value_of(result.standard_output, "argc"), "4");
}

TEST(RunSequence, ALauncherAtTheRootOfADriveNamesItsDirectoryWithoutABackslash) {
  TemporaryDirectory temp;
  const std::wstring launcher = L"C:\\" + temp.path().filename().wstring() + L".exe";  // unique, like its folder
  make_launcher_copy(launcher, attached_data_for({{u"hosted_app.dll", built_library(L"hosted_app.dll")}}));
  const ProcessResult result =
      run_program(launcher, {L"--print-env"},
                  {.environment = {{L"TEMP", temp.path().wstring()}, {L"TMP", temp.path().wstring()}}});
  std::filesystem::remove(launcher);
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_EQ(value_of(result.standard_output, "OSVARI_ONEFILE_DIRECTORY"), "C:");
}

TEST(RunSequence, AProgramThatStartsItsOwnLauncherAgainEntersTheLibraryAtOnce) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {u"data.txt", "x"}});
  const ProcessResult result = onefile.run({L"--print-dir", L"--relaunch", L"--print-dir", L"--exit", L"9"});
  ASSERT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  const auto lines = lines_of(result.standard_output);
  ASSERT_EQ(lines.size(), 3u) << result.standard_output;
  EXPECT_EQ(lines[0], lines[1]) << "the second start uses the same unpack folder";
  EXPECT_EQ(lines[2], "relaunch exit=9");
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

TEST(RunSequence, ALibraryWithoutRunCodeIsReported) {
  OnefileFixture onefile({{u"no_entry_point.dll", built_library(L"no_entry_point.dll")}});
  const ProcessResult result = onefile.run({});
  EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, DLL entry point not found.\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

TEST(RunSequence, ALibraryTheMainLibraryImportsIsFoundBesideIt) {
  OnefileFixture onefile({{u"importing_app.dll", built_library(L"importing_app.dll")},
                          {u"imported_value.dll", built_library(L"imported_value.dll")}});
  // A working folder of its own, which does not hold the imported library.
  TemporaryDirectory elsewhere;
  const ProcessResult result = onefile.run({}, {.current_directory = elsewhere.path().wstring()});
  EXPECT_EQ(result.exit_code, 4242u) << result.standard_output << result.standard_error;
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error, "");
}

TEST(RunSequence, AMainLibraryWhoseImportIsMissingNamesItAfterTheReport) {
  OnefileFixture onefile({{u"importing_app.dll", built_library(L"importing_app.dll")}});
  TemporaryDirectory elsewhere;
  const ProcessResult result = onefile.run({}, {.current_directory = elsewhere.path().wstring()});
  EXPECT_EQ(result.exit_code, 2u) << result.standard_output << result.standard_error;
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(without_carriage_returns(result.standard_error),
            without_carriage_returns("Error, load DLL. ([Error 126] " + system_text_in_report(126) + ")\n") +
                "Missing DLL: imported_value.dll (imported by importing_app.dll)\n");
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

class UnsafeEntryName : public ::testing::TestWithParam<const char16_t*> {};

TEST_P(UnsafeEntryName, EndsTheRunWithItsMessageBeforeTheApplicationRuns) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {GetParam(), "data"}});
  const auto marker = onefile.temp_directory() / L"child-ran.txt";
  const ProcessResult result = onefile.run({L"--write-parent", marker.wstring()});
  EXPECT_EQ(result.standard_output, "Error, unsafe file name in attached data.\r\n");
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the application ran";
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeEntryName,
                         ::testing::Values(u"NUL", u"sub\\com1.log", u"v.", u"v ", u"a/b.txt", u"..\\x.txt"));

TEST(RunSequence, AttachedDataWithoutEntriesEndsTheChildWithoutALaunch) {
  OnefileFixture onefile(std::vector<TestEntry>{});
  const ProcessResult result = onefile.run({});
  EXPECT_EQ(without_carriage_returns(result.standard_output), "Error, attached data holds no main library.\n");
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_TRUE(onefile.unpack_directories().empty());
}

TEST(RunSequence, AMainLibraryMissingFromTheUnpackFolderIsReportedWithTheSystemText) {
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")}});
  const auto parent_file = onefile.temp_directory() / L"parent.txt";
  // A first run stays alive, so its parent process is a running instance of the same file.
  std::thread first([&] { onefile.run({L"--write-parent", parent_file.wstring(), L"--sleep", L"6000"}); });
  std::string parent;
  for (int attempt = 0; attempt < 200 && parent.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    parent = read_file(parent_file);
  }
  ASSERT_FALSE(parent.empty());
  // A start that joins it as a child, but with a start stamp of its own: its unpack folder
  // holds nothing.
  const ProcessResult result = onefile.run(
      {}, {.environment = {{L"OSVARI_ONEFILE_PARENT", std::wstring(parent.begin(), parent.end())},
                           {L"OSVARI_ONEFILE_START", L"12345"}}});
  first.join();
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(without_carriage_returns(result.standard_error),
            without_carriage_returns("Error, load DLL. ([Error 126] " + system_text_in_report(126) + ")\n"));
  EXPECT_EQ(result.exit_code, 2u);
}

}  // namespace
}  // namespace osvari::testing
