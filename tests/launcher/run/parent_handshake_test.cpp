// The handshake with real processes: which running process counts as this executable's parent,
// and the role and environment each outcome leaves.
#include "launcher/run/parent_handshake.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "paths/environment.h"
#include "paths/executable_path.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "tests/support/process_runner.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/unix_symbolic_link.h"

namespace osvari {
namespace {

constexpr wchar_t sleep_filter[] = L"--gtest_filter=HandshakeHelper.DISABLED_SleepUntilTerminated";
constexpr wchar_t report_filter[] = L"--gtest_filter=HandshakeHelper.DISABLED_DetermineRoleAndReport";

// Run only as child processes of this program, started by the tests below.
TEST(HandshakeHelper, DISABLED_SleepUntilTerminated) { sleep_milliseconds(120'000); }

TEST(HandshakeHelper, DISABLED_DetermineRoleAndReport) {
  const Role role = determine_role();
  const auto value = [](const char* name) {
    const std::optional<std::wstring> text = get_environment_value_narrow(name);
    return text ? std::wstring(*text) : std::wstring(L"(absent)");
  };
  std::printf("osvari.role=%s\n", role.is_child() ? "child" : "parent");
  std::printf("osvari.accepted=%ls\n", role.parent_process_text.c_str());
  std::printf("osvari.parent=%ls\n", value(parent_process_variable).c_str());
  std::printf("osvari.start=%ls\n", value(start_time_variable).c_str());
  std::printf("osvari.pid=%lu\n", static_cast<unsigned long>(current_process_id()));
  std::fflush(stdout);
}

// A second instance of some executable, asleep until the test ends.
class SleepingInstance {
 public:
  explicit SleepingInstance(const std::wstring& program) {
    std::wstring command_line =
        L"\"" + program + L"\" --gtest_also_run_disabled_tests " + sleep_filter;
    process_ = create_process(program.c_str(), command_line.data(), StandardHandles{});
    if (!process_.is_valid()) return;
    id_ = process_id_of(process_.get());
    // Its module list is readable only once the loader has set it up.
    std::vector<wchar_t> path(parent_path_capacity);
    for (int attempt = 0; attempt < 400; ++attempt) {
      const UniqueHandle query = open_process_for_query(id_);
      if (query.is_valid() && process_image_path(query.get(), path.data(), parent_path_capacity) != 0) return;
      sleep_milliseconds(25);
    }
  }
  ~SleepingInstance() {
    if (!process_.is_valid()) return;
    terminate_process(process_.get(), 0);
    wait_for_object(process_.get(), infinite_wait);
  }
  SleepingInstance(const SleepingInstance&) = delete;
  SleepingInstance& operator=(const SleepingInstance&) = delete;

  [[nodiscard]] bool started() const { return process_.is_valid(); }
  [[nodiscard]] std::wstring id_text() const { return std::to_wstring(id_); }

 private:
  UniqueHandle process_;
  std::uint32_t id_ = 0;
};

std::wstring own_id() { return std::to_wstring(current_process_id()); }

std::wstring own_program() { return get_executable_path(false); }

TEST(CheckParentProcess, ParsesTheWholeTextAsADecimalProcessId) {
  struct Case {
    std::wstring text;
    bool accepted;
  };
  const Case cases[] = {
      {own_id(), true},
      {L"+" + own_id(), true},  // as far as wcstoul goes
      {L" " + own_id(), true},
      {own_id() + L" ", false},
      {own_id() + L"x", false},
      {L"123x", false},
      {L"4294967296", false},  // above the 32-bit range
      {L"99999999999999999999", false},
      {L"", false},
      {L"0", false},
      {L"4294967292", false},  // no such process
      {L"abc", false},
  };
  for (const auto& [text, accepted] : cases) {
    EXPECT_EQ(check_parent_process(text.c_str()), accepted) << "for '" << text << "'";
  }
}

TEST(CheckParentProcess, AcceptsAnotherRunningInstanceOfTheSameExecutable) {
  const SleepingInstance other(own_program());
  ASSERT_TRUE(other.started());
  EXPECT_TRUE(check_parent_process(other.id_text().c_str()));
}

TEST(CheckParentProcess, AcceptsAnInstanceStartedThroughTheShortPath) {
  std::vector<wchar_t> short_path(executable_path_capacity);
  const std::uint32_t length = short_path_name(own_program().c_str(), short_path.data(), executable_path_capacity);
  ASSERT_GT(length, 0u);
  const std::wstring program(short_path.data(), length);
  ASSERT_NE(program, own_program());

  const SleepingInstance other(program);
  ASSERT_TRUE(other.started());
  EXPECT_TRUE(check_parent_process(other.id_text().c_str()));
}

TEST(CheckParentProcess, AcceptsAnInstanceStartedThroughASymbolicLink) {
  const std::wstring program = own_program();
  const std::size_t backslash = program.rfind(L'\\');
  const testing::UnixDirectoryLink link(L"osvari_role_link_" + own_id(), program.substr(0, backslash));
  if (link.path().empty()) GTEST_SKIP() << "no Unix symbolic link to the test program's directory";

  const SleepingInstance other(link.path() + program.substr(backslash));
  ASSERT_TRUE(other.started());
  EXPECT_TRUE(check_parent_process(other.id_text().c_str()));
}

TEST(CheckParentProcess, RejectsAnInstanceOfACopyOfTheExecutable) {
  testing::TemporaryDirectory directory;
  const std::wstring copy = directory / L"copied program.exe";
  std::filesystem::copy_file(own_program(), copy);
  {
    const SleepingInstance other(copy);
    ASSERT_TRUE(other.started());
    EXPECT_FALSE(check_parent_process(other.id_text().c_str()));
  }
}

// determine_role, each case in a fresh child process of this program.

constexpr wchar_t this_process[] = L"<this process>";  // stands for the id of the running test

struct RoleCase {
  const char* label;
  std::optional<std::wstring> parent;  // the inherited OSVARI_ONEFILE_PARENT
  std::optional<std::wstring> start;   // the inherited OSVARI_ONEFILE_START
  bool child;
  std::optional<std::wstring> start_after;  // none: removed or never set
};

std::map<std::string, std::string> run_role_report(const RoleCase& test_case) {
  const auto substitute = [](const std::optional<std::wstring>& value) {
    return value && *value == this_process ? std::optional<std::wstring>(own_id()) : value;
  };
  testing::ProcessOptions options;
  options.environment = {{L"OSVARI_ONEFILE_PARENT", substitute(test_case.parent)},
                         {L"OSVARI_ONEFILE_START", test_case.start}};
  const testing::ProcessResult result =
      testing::run_program(own_program(), {L"--gtest_also_run_disabled_tests", report_filter}, options);
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output;

  std::map<std::string, std::string> report;
  std::istringstream lines(testing::without_carriage_returns(result.standard_output));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("osvari.")) continue;
    const std::size_t equals = line.find('=');
    report[line.substr(7, equals - 7)] = line.substr(equals + 1);
  }
  return report;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(DetermineRole, DecidesByTheInheritedEnvironment) {
  const RoleCase cases[] = {
      {"nothing inherited", std::nullopt, std::nullopt, false, std::nullopt},
      {"only a start time", std::nullopt, L"777", false, L"777"},
      {"empty parent keeps the start time", L"", L"777", false, L"777"},
      {"trailing text", L"123x", L"777", false, std::nullopt},
      {"out of range", L"4294967296", L"777", false, std::nullopt},
      {"no such process", L"4294967292", L"777", false, std::nullopt},
      {"running instance of this program", this_process, L"777", true, L"777"},
      {"running instance, no start time", this_process, std::nullopt, true, std::nullopt},
  };
  for (const auto& test_case : cases) {
    SCOPED_TRACE(test_case.label);
    const auto report = run_role_report(test_case);
    ASSERT_EQ(report.size(), 5u);
    EXPECT_EQ(report.at("start"), test_case.start_after ? narrow(*test_case.start_after) : "(absent)");
    if (test_case.child) {
      EXPECT_EQ(report.at("role"), "child");
      EXPECT_EQ(report.at("accepted"), narrow(own_id()));
      EXPECT_EQ(report.at("parent"), narrow(own_id()));
    } else {
      EXPECT_EQ(report.at("role"), "parent");
      EXPECT_EQ(report.at("accepted"), "");
      EXPECT_EQ(report.at("parent"), report.at("pid"));
    }
  }
}

}  // namespace
}  // namespace osvari
