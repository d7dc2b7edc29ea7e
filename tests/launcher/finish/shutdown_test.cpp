// Removal of the unpack directory and ending of the child: the calls counted over a recording
// binding, over the real system, and the console control handler in a process of its own.
#include "launcher/finish/shutdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/processes.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari {
namespace {

using testing::TemporaryDirectory;

// Records every call in order; answers as scripted, or forwards to the real system.
class RecordingOperations final : public CleanupOperations {
 public:
  explicit RecordingOperations(CleanupOperations* real = nullptr) : real_(real) {}

  bool child_ends_in_time = true;
  int existence_answers_true = 0;  // for the scripted binding
  std::uint32_t forwarded_wait_milliseconds = 0;  // the real child wait, shortened
  std::vector<std::string> calls;
  std::vector<std::wstring> removed_paths;

  bool wait_for_child(RawHandle child, std::uint32_t timeout_milliseconds) override {
    calls.push_back("wait " + std::to_string(timeout_milliseconds));
    return real_ ? real_->wait_for_child(child, forwarded_wait_milliseconds) : child_ends_in_time;
  }
  void terminate_child(RawHandle child, std::uint32_t exit_code) override {
    calls.push_back("terminate " + std::to_string(exit_code));
    if (real_) real_->terminate_child(child, exit_code);
  }
  void close_child(UniqueHandle child) override {
    calls.push_back("close");
    if (real_) real_->close_child(std::move(child));
  }
  std::wstring removal_path(const wchar_t* path) override { return real_ ? real_->removal_path(path) : path; }
  void remove_tree(const std::wstring& path) override {
    calls.push_back("delete");
    removed_paths.push_back(path);
    if (real_) real_->remove_tree(path);
  }
  bool is_existing_directory(const std::wstring& path) override {
    calls.push_back("exists");
    if (real_) return real_->is_existing_directory(path);
    return existence_answers_true-- > 0;
  }
  void sleep(std::uint32_t milliseconds) override {
    calls.push_back("sleep " + std::to_string(milliseconds));
    if (real_) real_->sleep(milliseconds);
  }

  [[nodiscard]] long count(const std::string& call) const { return std::count(calls.begin(), calls.end(), call); }

 private:
  CleanupOperations* real_;
};

std::unique_ptr<UnpackDirectory> directory_named(const std::wstring& path) {
  auto directory = std::make_unique<UnpackDirectory>();
  EXPECT_TRUE(directory->assign(path));
  return directory;
}

// delete, then (exists, sleep 100, delete) for each repeat that finds the directory still there.
std::vector<std::string> removal_calls(int repeats, bool final_test) {
  std::vector<std::string> calls = {"delete"};
  for (int i = 0; i < repeats; ++i) calls.insert(calls.end(), {"exists", "sleep 100", "delete"});
  if (final_test) calls.push_back("exists");
  return calls;
}

TEST(CleanupUnpackDirectory, RemovalRequestsFollowTheExistenceTests) {
  struct Case {
    const char* label;
    int existence_answers_true;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"already_gone", 0, removal_calls(0, true)},
      {"gone_after_three_repeats", 3, removal_calls(3, true)},
      {"gone_at_the_last_repeat", 19, removal_calls(19, true)},
      {"never_goes_away", 1000, removal_calls(20, false)},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    RecordingOperations system;
    system.existence_answers_true = entry.existence_answers_true;
    const auto directory = directory_named(L"C:\\temp\\onefile_1_2");
    cleanup_unpack_directory(UniqueHandle(), true, *directory, system);
    EXPECT_EQ(system.calls, entry.expected);
    for (const auto& path : system.removed_paths) EXPECT_EQ(path, L"C:\\temp\\onefile_1_2");
  }
}

TEST(CleanupUnpackDirectory, NeverGivesUpBefore21RequestsAnd20Pauses) {
  RecordingOperations system;
  system.existence_answers_true = 1000;
  const auto directory = directory_named(L"C:\\x");
  cleanup_unpack_directory(UniqueHandle(), true, *directory, system);
  EXPECT_EQ(system.count("delete"), 21);
  EXPECT_EQ(system.count("sleep 100"), 20);
}

TEST(CleanupUnpackDirectory, MakesNoCallWithoutChildAndWithoutUnpackFlag) {
  RecordingOperations system;
  const auto directory = directory_named(L"C:\\temp\\onefile_1_2");
  cleanup_unpack_directory(UniqueHandle(), false, *directory, system);
  EXPECT_TRUE(system.calls.empty());
}

TEST(CleanupUnpackDirectory, EndsTheChildFirst) {
  struct Case {
    const char* label;
    bool child_ends_in_time;
    bool unpack_flag;
    std::vector<std::string> expected;
  };
  const std::string terminate = "terminate " + std::to_string(0xC000013Au);
  const Case cases[] = {
      {"ended_in_time", true, false, {"wait 5000", "close"}},
      {"still_running", false, false, {"wait 5000", terminate, "close"}},
      {"still_running_then_removal", false, true, {"wait 5000", terminate, "close", "delete", "exists"}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    RecordingOperations system;
    system.child_ends_in_time = entry.child_ends_in_time;
    const auto directory = directory_named(L"C:\\temp\\onefile_1_2");
    // Any real handle stands for the child; the recording binding only lets it close.
    cleanup_unpack_directory(open_process_for_query(current_process_id()), entry.unpack_flag, *directory, system);
    EXPECT_EQ(system.calls, entry.expected);
  }
}

TEST(CleanupUnpackDirectory, NamesTheDirectoryInTheExtendedForm) {
  RecordingOperations system{&system_cleanup_operations()};
  system.forwarded_wait_milliseconds = 0;
  const std::wstring missing = L"C:\\osvari-no-such-directory\\onefile_1_2";
  cleanup_unpack_directory(UniqueHandle(), true, *directory_named(missing), system);
  EXPECT_EQ(system.removed_paths, std::vector<std::wstring>{L"\\\\?\\" + missing});
}

// The real system, with the calls counted on the way.
class RealRemoval : public ::testing::Test {
 protected:
  RecordingOperations system{&system_cleanup_operations()};
  TemporaryDirectory temporary;
  std::filesystem::path unpack = temporary.path() / L"onefile_1_2";
};

TEST_F(RealRemoval, RemovesTheWholeTreeWithOneRequest) {
  testing::write_file(unpack / L"a.txt", "a");
  testing::write_file(unpack / L"sub" / L"deeper" / L"b.dll", "b");
  cleanup_unpack_directory(UniqueHandle(), true, *directory_named(unpack.wstring()), system);
  EXPECT_FALSE(std::filesystem::exists(unpack));
  EXPECT_EQ(system.calls, removal_calls(0, true));
}

TEST_F(RealRemoval, GivesUpSilentlyAfter21RequestsWhileAFileIsHeldOpen) {
  testing::write_file(unpack / L"held.txt", "held");
  testing::write_file(unpack / L"free.txt", "free");
  // Opened without delete sharing, so the shell cannot remove it or its directory.
  const UniqueFileHandle held = create_file_for_writing((unpack / L"held.txt").c_str());
  ASSERT_TRUE(held.is_valid());
  cleanup_unpack_directory(UniqueHandle(), true, *directory_named(unpack.wstring()), system);
  EXPECT_EQ(system.calls, removal_calls(20, false));
  EXPECT_TRUE(std::filesystem::exists(unpack / L"held.txt"));
}

TEST_F(RealRemoval, LeavesEverythingWithoutUnpackFlag) {
  testing::write_file(unpack / L"a.txt", "a");
  cleanup_unpack_directory(UniqueHandle(), false, *directory_named(unpack.wstring()), system);
  EXPECT_TRUE(std::filesystem::exists(unpack / L"a.txt"));
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(RealRemoval, PathNamingAFileEndsAfterOneRequest) {
  testing::write_file(unpack, "not a directory");
  cleanup_unpack_directory(UniqueHandle(), true, *directory_named(unpack.wstring()), system);
  EXPECT_EQ(system.calls, removal_calls(0, true));
}

TEST_F(RealRemoval, ChildStillRunningIsEndedAsByControlC) {
  // The probe sleeps until it is ended; it finds its mode in the environment it inherits.
  set_environment_variable(L"OSVARI_PROBE", L"wait");
  std::wstring command_line = L"probe";
  UniqueHandle child =
      create_process((testing::build_output_directory() + L"\\launch_probe.exe").c_str(), command_line.data(),
                     standard_handles());
  set_environment_variable(L"OSVARI_PROBE", nullptr);
  ASSERT_TRUE(child.is_valid());
  UniqueHandle handle_to_check = duplicate_handle(child.get());

  system.forwarded_wait_milliseconds = 0;  // the real wait would only take longer
  cleanup_unpack_directory(std::move(child), false, *directory_named(unpack.wstring()), system);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"wait 5000", "terminate " + std::to_string(0xC000013Au), "close"}));
  ASSERT_TRUE(wait_for_object(handle_to_check.get(), infinite_wait));
  std::uint32_t exit_code = 0;
  ASSERT_TRUE(get_process_exit_code(handle_to_check.get(), exit_code));
  EXPECT_EQ(exit_code, 0xC000013Au);
}

TEST(ConsoleControlHandler, CleansUpOnlyForEventsThatEndTheProcess) {
  struct Case {
    unsigned long event;
    bool cleans_up;
  };
  const Case cases[] = {{0, true},  {1, true},  {2, true},  {3, false}, {4, false},
                        {5, true},  {6, true},  {7, false}, {8, false}, {0xFFFFFFFF, false}};
  for (const auto& entry : cases) EXPECT_EQ(is_cleanup_event(entry.event), entry.cleans_up) << entry.event;
}

// The handler works on process-wide state, so each event runs in a probe process of its own.
class ConsoleControlHandlerEvent : public ::testing::TestWithParam<std::pair<unsigned long, bool>> {};

TEST_P(ConsoleControlHandlerEvent, ReturnsFalseAfterRemovingOrLeavingTheDirectory) {
  const auto [event, removes] = GetParam();
  TemporaryDirectory temporary;
  const std::filesystem::path unpack = temporary.path() / L"onefile_1_2";
  testing::write_file(unpack / L"sub" / L"file.txt", "data");
  testing::ProcessOptions options;
  options.environment = {{L"OSVARI_PROBE", L"handler"},
                         {L"OSVARI_PROBE_EVENT", std::to_wstring(event)},
                         {L"OSVARI_PROBE_UNPACK_DIRECTORY", unpack.wstring()}};
  const testing::ProcessResult result =
      testing::run_program(testing::build_output_directory() + L"\\launch_probe.exe", {}, options);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(testing::without_carriage_returns(result.standard_output), "0\n");
  EXPECT_EQ(std::filesystem::exists(unpack), !removes);
}

INSTANTIATE_TEST_SUITE_P(Events, ConsoleControlHandlerEvent,
                         ::testing::Values(std::pair{0ul, true}, std::pair{2ul, true}, std::pair{3ul, false},
                                           std::pair{4ul, false}, std::pair{7ul, false}));

// Real Ctrl-C under a console that the probe allocates for itself (see the probe's modes).
class ConsoleControlEvent : public ::testing::Test {
 protected:
  testing::ProcessResult run_probe(const wchar_t* mode) {
    testing::write_file(unpack / L"sub" / L"file.txt", "data");
    testing::ProcessOptions options;
    options.environment = {{L"OSVARI_PROBE", mode},
                           {L"OSVARI_PROBE_CHILD", L"ctrl_c_ignored"},
                           {L"OSVARI_PROBE_UNPACK_DIRECTORY", unpack.wstring()}};
    return testing::run_program(testing::build_output_directory() + L"\\launch_probe.exe", {}, options);
  }

  TemporaryDirectory temporary;
  std::filesystem::path unpack = temporary.path() / L"onefile_1_2";
};

TEST_F(ConsoleControlEvent, RemovesTheUnpackDirectoryBeforeTheNextHandlerRuns) {
  const testing::ProcessResult result = run_probe(L"console_self");
  EXPECT_EQ(testing::without_carriage_returns(result.standard_output), "console_self: event 0, unpack directory gone\n");
  EXPECT_FALSE(std::filesystem::exists(unpack));
}

TEST_F(ConsoleControlEvent, InTheParentEndsAChildThatIgnoresIt) {
  const testing::ProcessResult result = run_probe(L"console_parent");
  // The parent's handler waits 5000 ms, ends the child and removes the directory. Once the
  // child has ended, the parent's main thread may end the process with the child's exit code
  // before the system's handler does (with 0), and before the reporting handler has written.
  // Wine now and then delivers the one event to the parent twice; each delivery reports.
  const std::string output = testing::without_carriage_returns(result.standard_output);
  const std::string child_line = "ctrl_c_ignored: ignored event 0\n";
  const std::string report_line = "console_parent: event 0, unpack directory gone\n";
  ASSERT_TRUE(output.starts_with(child_line)) << output;
  std::string rest = output.substr(child_line.size());
  int reports = 0;
  while (rest.starts_with(report_line)) {
    rest.erase(0, report_line.size());
    ++reports;
  }
  EXPECT_EQ(rest, "") << output;
  EXPECT_LE(reports, 2) << output;
  EXPECT_TRUE(result.exit_code == 0 || result.exit_code == terminated_child_exit_code) << result.exit_code;
  EXPECT_FALSE(std::filesystem::exists(unpack));
}

}  // namespace
}  // namespace osvari
