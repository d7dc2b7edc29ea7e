// The finish of a run through the real launcher: a failed parent leaves no folder, things
// planted at the unpack name are never used, and finished runs are swept from TEMP.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "launcher/finish/finished_run_sweep.h"
#include "launcher/finish/made_folder_record.h"
#include "paths/extended_length_path.h"
#include "platform/files.h"
#include "tests/support/leftovers.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"
#include "tests/support/unix_link.h"
#include "tools/pack/attached_data/attached_data_format.h"

namespace osvari::testing {
namespace {

std::vector<TestEntry> hosted_application() {
  return {{u"hosted_app.dll", built_library(L"hosted_app.dll")}, {u"data.txt", "packed"}};
}

bool is_present(const std::filesystem::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct FailureCase {
  const char* label;
  std::string attached_data;
  std::wstring command_line_tail;
  std::string standard_output;  // the message line on standard output, if it goes there
};

std::vector<FailureCase> parent_failures() {
  const std::string decoded =
      decoded_stream({{u"main.dll", varied_bytes(300'000)}, {u"second.bin", varied_bytes(600'000, 2)}});
  const std::string frame = pack::compress_frame(decoded, {.level = 1});
  std::vector<TestEntry> many_files = {{u"main.dll", "m"}};
  for (int i = 0; i < 600; ++i) {
    const std::string name = std::string("d").append(std::to_string(i % 6)).append("\\f").append(std::to_string(i));
    many_files.push_back({std::u16string(name.begin(), name.end()), varied_bytes(4000, i)});
  }
  const std::string many_files_frame = pack::compress_frame(decoded_stream(many_files), {.level = 1});
  return {
      // Cut inside the second entry: the first is already on disk.
      {"decode_error_part_way", "KAY" + frame.substr(0, frame.size() * 3 / 4), L"",
       "Error, couldn't decode attached data.\n"},
      {"unsafe_name_after_a_written_entry",
       attached_data_for({{u"main.dll", varied_bytes(1000)}, {u"..\\escaped.txt", "x"}}), L"", ""},
      // The writing thread fails: a folder is needed where a file was written.
      {"file_where_a_folder_is_needed", attached_data_for({{u"main.dll", "m"}, {u"x", "file"}, {u"x\\y.txt", "y"}}),
       L"", ""},
      // Cut after hundreds of files, which the writing thread is still creating.
      {"decode_error_while_files_are_written", "KAY" + many_files_frame.substr(0, many_files_frame.size() * 3 / 4),
       L"", "Error, couldn't decode attached data.\n"},
      // The child's command line, with the full module path as argv[0], passes 32,767 units.
      {"internal_limit_at_the_launch", attached_data_for(hosted_application()), L" " + std::wstring(32'760, L'x'),
       ""},
  };
}

class FailedParent : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailedParent, LeavesNoFolderAndKeepsItsMessageAndExitCode) {
  SacrificialArea area;
  OnefileFixture onefile(GetParam().attached_data);
  const std::wstring temp = onefile.temp_directory().wstring();
  const ProcessResult result = run_process(onefile.launcher(), L"a" + GetParam().command_line_tail,
                                           {.environment = {{L"TEMP", temp}, {L"TMP", temp}}});
  EXPECT_EQ(result.exit_code, 2u) << result.standard_output << result.standard_error;
  if (!GetParam().standard_output.empty()) {
    EXPECT_EQ(without_carriage_returns(result.standard_output), GetParam().standard_output);
  }
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
  EXPECT_FALSE(is_present(onefile.temp_directory().parent_path() / L"escaped.txt"));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedParent, ::testing::ValuesIn(parent_failures()),
                         [](const auto& info) { return std::string(info.param.label); });

// Paths past 260 units once made the removal empty the current directory instead.
TEST(FinishedRun, RemovesATreeWithLongPathsAndLeavesTheCurrentDirectoryAlone) {
  SacrificialArea area;
  const std::u16string level(150, u'a');
  OnefileFixture onefile({{u"hosted_app.dll", built_library(L"hosted_app.dll")},
                          {level + u"\\" + level + u"\\deep.txt", "deep"},
                          {u"read_only_later.txt", "x"}});
  // Exit code 0 says that every entry was unpacked, the deep one included.
  const ProcessResult result = onefile.run({L"--exit", L"0"}, {.current_directory = area.current().wstring()});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

enum class Planted { folder_with_files, file, link_elsewhere };

std::string planted_name(Planted kind) {
  switch (kind) {
    case Planted::folder_with_files:
      return "folder_with_files";
    case Planted::file:
      return "file";
    case Planted::link_elsewhere:
      break;
  }
  return "link_elsewhere";
}

class PlantedAtTheUnpackName : public ::testing::TestWithParam<Planted> {};

// Whoever sets OSVARI_ONEFILE_START for a parent could name its folder in advance; the parent
// takes a fresh time stamp instead, so what is planted there is neither used nor touched.
TEST_P(PlantedAtTheUnpackName, IsNeitherUsedNorTouched) {
  SacrificialArea area;
  OnefileFixture onefile(hosted_application());
  // Later than any start, so that the sweep counts the planted name as a running one.
  const std::wstring planted_stamp = L"9000000000000000000";
  std::filesystem::path planted;
  std::unique_ptr<UnixLink> link;
  ProcessOptions options{.environment = {{L"OSVARI_ONEFILE_START", planted_stamp}}};
  options.before_start = [&](std::uint32_t process_id) {
    planted = onefile.temp_directory() / (L"onefile_" + std::to_wstring(process_id) + L"_" + planted_stamp);
    switch (GetParam()) {
      case Planted::folder_with_files:
        area.add_canary(planted / L"planted.txt");
        area.add_canary(planted / L"hosted_app.dll");
        break;
      case Planted::file:
        area.add_canary(planted);
        break;
      case Planted::link_elsewhere:
        link = std::make_unique<UnixLink>(planted.wstring(), area.outside().wstring());
        break;
    }
  };
  const ProcessResult result = onefile.run({L"--print-dir", L"--list-files"}, options);

  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  const std::string used = value_of(result.standard_output, "dir");
  EXPECT_NE(used, planted.string());
  EXPECT_TRUE(used.starts_with(onefile.temp_directory().string() + "\\onefile_")) << used;
  EXPECT_EQ(lines_of(result.standard_output).size(), 3u) << result.standard_output;  // dir, two files
  EXPECT_EQ(result.standard_output.find("planted"), std::string::npos);
  if (link) {
    EXPECT_TRUE(link->made());
    EXPECT_TRUE(is_present(planted));
  }
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{planted.filename().wstring()});
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlantedAtTheUnpackName,
                         ::testing::Values(Planted::folder_with_files, Planted::file, Planted::link_elsewhere),
                         [](const auto& info) { return planted_name(info.param); });

// A run that has ended: its parent id and time stamp, as the application saw them.
struct EndedRun {
  std::wstring process_id;
  std::wstring time_stamp;
};

EndedRun run_to_the_end(const OnefileFixture& onefile) {
  const ProcessResult result = onefile.run({L"--print-env"});
  EXPECT_EQ(result.exit_code, 0u);
  const auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
  return {wide(value_of(result.standard_output, "OSVARI_ONEFILE_PARENT")),
          wide(value_of(result.standard_output, "OSVARI_ONEFILE_START"))};
}

// Runs the application with `arguments` on a thread of its own, until finish().
class BackgroundRun {
 public:
  BackgroundRun(const OnefileFixture& onefile, std::vector<std::wstring> arguments)
      : thread_([this, &onefile, arguments = std::move(arguments)] { result_ = onefile.run(arguments); }) {}
  ~BackgroundRun() { finish(); }
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;
  const ProcessResult& finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  ProcessResult result_;
  std::thread thread_;
};

std::wstring quoted(const std::filesystem::path& path) { return L"\"" + path.wstring() + L"\""; }

// What a killed run left goes while a later run's child runs, however large; a run that ends at
// once still takes some of it at its start, and its end does not wait for the rest.
TEST(SweepWhileTheChildRuns, TakesALargeLeftoverWhileALaterRunLastsAndStopsWhenItEnds) {
  SacrificialArea area;
  OnefileFixture onefile(hosted_application());
  const std::filesystem::path temp = onefile.temp_directory();
  const EndedRun ended = run_to_the_end(onefile);
  const std::filesystem::path leftover = temp / (L"onefile_" + ended.process_id + L"_" + ended.time_stamp);
  constexpr int leftover_files = 10'000;
  make_recorded_leftover(leftover, leftover_files);
  area.add_canary(temp / L"onefile_keep" / L"canary.txt");

  // Each start has a few tens of milliseconds for it: on a loaded machine a start may take no
  // file, and a few starts surely take some.
  std::size_t after_short_runs = leftover_files;
  for (int run = 0; run < 5 && after_short_runs == static_cast<std::size_t>(leftover_files); ++run) {
    EXPECT_EQ(onefile.run({L"--exit", L"0"}).exit_code, 0u);
    after_short_runs = files_below(leftover);
  }
  EXPECT_LT(after_short_runs, static_cast<std::size_t>(leftover_files)) << "no progress at the start";
  EXPECT_GT(after_short_runs, 0u) << "the end of a run waited for the whole leftover to go";

  const std::filesystem::path release = temp.parent_path() / L"release.txt";
  BackgroundRun waiting(onefile, {L"--wait-for", quoted(release)});
  EXPECT_TRUE(eventually([&] { return !is_present(leftover); }, std::chrono::seconds(120)))
      << files_below(leftover) << " files left while the later run waits";
  write_file(release, "go");
  EXPECT_EQ(waiting.finish().exit_code, 0u);
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{L"onefile_keep"});
  EXPECT_EQ(records_below(temp), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// Each start sweeps for 30 ms at most: on a loaded machine one start may leave part of a folder
// to the next, as it is meant to.
bool swept_within_a_few_starts(const OnefileFixture& onefile, const std::filesystem::path& folder) {
  for (int start = 0; start < 5; ++start) {
    EXPECT_EQ(onefile.run({L"--exit", L"0"}).exit_code, 0u);
    if (!is_present(folder)) return true;
  }
  return false;
}

TEST(SweepOfFinishedRuns, RemovesTheirFoldersAndNothingElse) {
  SacrificialArea area;
  OnefileFixture onefile(hosted_application());
  const std::filesystem::path temp = onefile.temp_directory();
  const EndedRun ended = run_to_the_end(onefile);
  const std::wstring finished = L"onefile_" + ended.process_id + L"_" + ended.time_stamp;
  write_file(temp / finished / L"hosted_app.dll", "left by a crash");
  write_file(temp / finished / L"nested" / L"read_only.txt", "x");
  // As the run that crashed recorded it when it made the folder.
  record_made_folder(extended_length_path((temp / finished).wstring()));
  SetFileAttributesW((temp / finished / L"nested" / L"read_only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring look_alikes[] = {L"onefile_keep",   L"onefile_12_ab", L"onefile_12", L"onefile__12",
                                      L"onefile_12_34_5", L"onefile_12_",   L"onefile_-1_2", L"xonefile_1_2"};
  for (const auto& name : look_alikes) area.add_canary(temp / name / L"canary.txt");
  const std::wstring same_name_as_a_file = L"onefile_" + ended.process_id + L"_1";
  area.add_canary(temp / same_name_as_a_file);
  const UnixLink link((temp / (L"onefile_" + ended.process_id + L"_2")).wstring(), area.outside().wstring());
  ASSERT_TRUE(link.made());

  EXPECT_TRUE(swept_within_a_few_starts(onefile, temp / finished));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

std::uint64_t file_time_now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Folders named as this launcher names its own, made by another program: whatever their stamp
// and whether or not their maker still runs, the sweep leaves them alone.
TEST(SweepOfFinishedRuns, NeverTouchesAnotherProgramsFoldersOfTheSameShape) {
  SacrificialArea area;
  OnefileFixture onefile(hosted_application());
  const std::filesystem::path temp = onefile.temp_directory();
  const std::wstring gone = run_to_the_end(onefile).process_id;  // that parent has ended
  const std::wstring live = std::to_wstring(GetCurrentProcessId());
  const std::wstring seconds = std::to_wstring(static_cast<long long>(std::time(nullptr)));
  const std::uint64_t now = file_time_now();
  constexpr std::uint64_t hour = 36'000'000'000ull;
  const std::wstring names[] = {
      L"onefile_" + live + L"_" + seconds,                       // stamped in seconds, its maker running
      L"onefile_" + gone + L"_" + seconds,                       // stamped in seconds, its maker gone
      L"onefile_" + gone + L"_" + std::to_wstring(now - hour),   // in this launcher's units, maker gone
      L"onefile_" + live + L"_" + std::to_wstring(now + 240 * hour),  // stamped in the future
      L"onefile_1_" + std::to_wstring(now - hour),               // an id no process has
  };
  for (const auto& name : names) area.add_canary(temp / name / L"canary.txt");
  // A folder this launcher made, moved away, and another one put at its name.
  const std::wstring taken_name = L"onefile_" + gone + L"_" + std::to_wstring(now - 2 * hour);
  std::filesystem::create_directories(temp / taken_name);
  record_made_folder(extended_length_path((temp / taken_name).wstring()));
  std::filesystem::rename(temp / taken_name, area.outside() / L"moved_away");
  area.add_canary(area.outside() / L"moved_away" / L"canary.txt");
  area.add_canary(temp / taken_name / L"canary.txt");

  const ProcessResult result = onefile.run({L"--exit", L"0"});

  EXPECT_EQ(result.exit_code, 0u);
  for (const auto& name : names) EXPECT_TRUE(is_present(temp / name)) << std::filesystem::path(name).string();
  EXPECT_TRUE(is_present(temp / taken_name));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// Starts a run whose application sleeps, and waits until the application runs in the child.
// Long enough for the application to outlast another whole run on a loaded machine: were it to
// end first, the sweep would take its folder rightly and the test would fail for that reason.
constexpr int outlasting_a_run_ms = 10'000;

class SleepingRun {
 public:
  explicit SleepingRun(const OnefileFixture& onefile, int milliseconds) {
    const std::wstring started = (onefile.temp_directory().parent_path() / L"application_started.txt").wstring();
    thread_ = std::thread([&onefile, milliseconds, started, this] {
      result_ = onefile.run({L"--write-parent", L"\"" + started + L"\"", L"--sleep", std::to_wstring(milliseconds)});
    });
    EXPECT_TRUE(eventually([&] { return is_present(started); }));
    const auto names = onefile.unpack_directories();
    if (!names.empty()) folder_ = names.front();
  }
  ~SleepingRun() { finish(); }
  SleepingRun(const SleepingRun&) = delete;
  SleepingRun& operator=(const SleepingRun&) = delete;

  [[nodiscard]] const std::wstring& folder() const { return folder_; }
  [[nodiscard]] std::uint32_t parent_id() const { return parse_unpack_directory_name(folder_)->process_id; }
  const ProcessResult& finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  std::thread thread_;
  ProcessResult result_;
  std::wstring folder_;
};

TEST(SweepOfFinishedRuns, LeavesTheFolderOfARunningParent) {
  OnefileFixture onefile(hosted_application());
  SleepingRun running(onefile, outlasting_a_run_ms);
  ASSERT_FALSE(running.folder().empty());

  EXPECT_EQ(onefile.run({L"--exit", L"0"}).exit_code, 0u);

  EXPECT_TRUE(is_present(onefile.temp_directory() / running.folder()));
  EXPECT_EQ(running.finish().exit_code, 0u);
  EXPECT_EQ(onefile.unpack_directories(), std::vector<std::wstring>{});
}

TEST(SweepOfFinishedRuns, TakesTheFolderOfAKilledParentOnceItsChildHasEnded) {
  OnefileFixture onefile(hosted_application());
  SleepingRun orphaned(onefile, outlasting_a_run_ms);
  ASSERT_FALSE(orphaned.folder().empty());
  {
    const HANDLE parent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, orphaned.parent_id());
    ASSERT_NE(parent, nullptr);
    TerminateProcess(parent, 9);
    WaitForSingleObject(parent, INFINITE);
    CloseHandle(parent);
  }

  EXPECT_EQ(onefile.run({L"--exit", L"0"}).exit_code, 0u);
  EXPECT_TRUE(is_present(onefile.temp_directory() / orphaned.folder())) << "swept while the child still runs";

  // The child holds the in-use mark for as long as it runs.
  const std::wstring mark = in_use_mark_name(orphaned.folder());
  ASSERT_TRUE(eventually(
      [&] {
        const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, mark.c_str());
        if (event != nullptr) CloseHandle(event);
        return event == nullptr;
      },
      std::chrono::milliseconds(outlasting_a_run_ms) + std::chrono::seconds(20)));
  EXPECT_TRUE(swept_within_a_few_starts(onefile, onefile.temp_directory() / orphaned.folder()));
  EXPECT_EQ(orphaned.finish().exit_code, 9u);
}

TEST(SweepOfFinishedRuns, LeavesTheFolderOfAnotherUser) {
  OnefileFixture onefile(hosted_application());
  const EndedRun ended = run_to_the_end(onefile);
  const std::filesystem::path foreign = onefile.temp_directory() / (L"onefile_" + ended.process_id + L"_" + ended.time_stamp);
  write_file(foreign / L"file.txt", "theirs");
  PSID system_account = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-18", &system_account));
  std::wstring path = foreign.wstring();
  const DWORD set = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, system_account,
                                          nullptr, nullptr, nullptr);
  LocalFree(system_account);
  if (set != ERROR_SUCCESS || is_owned_by_current_user(path.c_str())) {
    std::filesystem::remove_all(foreign);
    GTEST_SKIP() << "this system reports every file as owned by the current user (Wine does), so no folder of "
                    "another user can be made here";
  }
  EXPECT_EQ(onefile.run({L"--exit", L"0"}).exit_code, 0u);
  EXPECT_TRUE(is_present(foreign / L"file.txt"));
}

}  // namespace
}  // namespace osvari::testing
