// The launcher's own path: short and final forms, against the real file system and made-up answers.
#include "paths/executable_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/processes.h"
#include "tests/support/exit_expectations.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/unix_symbolic_link.h"

namespace osvari {
namespace {

using testing::TemporaryDirectory;

template <std::size_t Capacity = executable_path_capacity>
BoundedWideString<Capacity> bounded(std::wstring_view text) {
  BoundedWideString<Capacity> path;
  EXPECT_TRUE(path.assign(text));
  return path;
}

std::wstring shortened(std::wstring_view text) {
  auto path = bounded(text);
  shorten_path(path);
  return std::wstring(path.view());
}

std::wstring directory_part(std::wstring_view path) { return std::wstring(path.substr(0, path.rfind(L'\\'))); }

// shorten_path against the real file system.

TEST(ShortenPath, LongDirectoryTakesAShortFormOfTheSameDirectory) {
  TemporaryDirectory temporary;
  const std::wstring directory = temporary / L"Long Directory With Spaces";
  testing::write_file(std::filesystem::path(directory) / L"marker.txt", "this directory");

  for (const std::wstring last_component : {L"long launcher name.exe", L""}) {
    SCOPED_TRACE(last_component);
    const std::wstring result = shortened(directory + L"\\" + last_component);
    ASSERT_TRUE(result.ends_with(L"\\" + last_component));
    const std::wstring short_directory = directory_part(result);
    EXPECT_EQ(short_directory.find(L' '), std::wstring::npos);
    EXPECT_NE(short_directory, directory);
    EXPECT_EQ(testing::read_file(std::filesystem::path(short_directory) / L"marker.txt"), "this directory");
  }
}

TEST(ShortenPath, LeavesPathsWithoutAShortFormUnchanged) {
  TemporaryDirectory temporary;
  const std::wstring missing = temporary / L"No Such Directory";
  const std::wstring cases[] = {
      missing + L"\\long launcher name.exe",
      missing + L"\\",
      L"no such name anywhere",  // no backslash: shortened as a whole
      L"\\long launcher name.exe",  // empty directory part
      L"",
  };
  for (const auto& path : cases) EXPECT_EQ(shortened(path), path);
}

TEST(ShortenPath, ShortensAPathWithoutBackslashAsAWhole) {
  std::vector<wchar_t> expected(16);
  const std::uint32_t length = short_path_name(L"C:", expected.data(), 16);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(shortened(L"C:"), std::wstring(expected.data(), length));
}

// shorten_path and resolve_final_path with made-up system answers.

struct FakeSystem {
  static inline std::wstring short_form;          // empty: the system has none
  static inline std::uint32_t first_answer = 0;   // when non-zero, the size the first call claims
  static inline bool second_call_fails = false;
  static inline std::vector<std::wstring> shortened_parts;
  static inline bool open_fails = false;
  static inline std::optional<std::wstring> final_path;  // none: GetFinalPathNameByHandleW missing
  static inline bool fail_final_path = false;

  static void reset() {
    short_form.clear();
    first_answer = 0;
    second_call_fails = false;
    shortened_parts.clear();
    open_fails = false;
    final_path.reset();
    fail_final_path = false;
  }

  static std::uint32_t short_path_name(const wchar_t* path, wchar_t* buffer, std::uint32_t capacity) {
    shortened_parts.push_back(path);
    if (short_form.empty()) return 0;
    const auto needed = static_cast<std::uint32_t>(short_form.size() + 1);
    if (buffer == nullptr) return first_answer != 0 ? first_answer : needed;
    if (second_call_fails) return 0;
    if (needed > capacity) return needed;
    short_form.copy(buffer, short_form.size());
    buffer[short_form.size()] = L'\0';
    return needed - 1;
  }

  static UniqueFileHandle open_for_query(const wchar_t*) {
    if (open_fails) return UniqueFileHandle(invalid_handle_value());
    return osvari::open_for_query(get_executable_path(false));  // any handle that closes cleanly
  }

  static std::optional<std::uint32_t> final_path_by_handle(RawHandle, wchar_t* buffer, std::uint32_t capacity) {
    if (!final_path) return std::nullopt;
    if (fail_final_path) {
      buffer[0] = L'X';  // a failed call may leave anything behind
      buffer[1] = L'\0';
      return 0u;
    }
    const auto length = static_cast<std::uint32_t>(final_path->size());
    if (length >= capacity) return length + 1;
    final_path->copy(buffer, length);
    buffer[length] = L'\0';
    return length;
  }

  static constexpr PathSystem calls{open_for_query, final_path_by_handle, short_path_name};
};

class WithFakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FakeSystem::reset();
  }
};

using ShortenPathWithFakes = WithFakeSystem;

TEST_F(ShortenPathWithFakes, ShortensTheDirectoryPartAndKeepsTheLastComponent) {
  FakeSystem::short_form = L"C:\\PROG~FBU\\MYTO~1AB";
  auto path = bounded(L"C:\\Program Files\\My Tools\\long launcher name.exe");
  shorten_path(path, FakeSystem::calls);
  EXPECT_EQ(path.view(), L"C:\\PROG~FBU\\MYTO~1AB\\long launcher name.exe");
  EXPECT_EQ(FakeSystem::shortened_parts, (std::vector<std::wstring>{L"C:\\Program Files\\My Tools",
                                                                     L"C:\\Program Files\\My Tools"}));
}

TEST_F(ShortenPathWithFakes, SecondCallFailingLeavesThePathUnchanged) {
  FakeSystem::short_form = L"C:\\PROG~FBU";
  FakeSystem::second_call_fails = true;
  auto path = bounded(L"C:\\Program Files\\tool.exe");
  shorten_path(path, FakeSystem::calls);
  EXPECT_EQ(path.view(), L"C:\\Program Files\\tool.exe");
}

TEST_F(ShortenPathWithFakes, AShortFormLongerThanTheLongOneIsKeptWhenItFits) {
  FakeSystem::short_form = L"C:\\AB~1234";
  auto path = bounded<20>(L"C:\\a b\\tool.exe");
  shorten_path(path, FakeSystem::calls);
  EXPECT_EQ(path.view(), L"C:\\AB~1234\\tool.exe");  // 19 units and the terminator
}

TEST_F(ShortenPathWithFakes, EndsTheRunWhenTheResultDoesNotFit) {
  FakeSystem::short_form = L"C:\\AB~1234";
  EXPECT_INTERNAL_LIMIT(
      {
        auto path = bounded<19>(L"C:\\a b\\tool.exe");  // the last component no longer fits
        shorten_path(path, FakeSystem::calls);
      },
      "a shortened path does not fit in 19 code units");
  EXPECT_INTERNAL_LIMIT(
      {
        auto path = bounded<10>(L"C:\\a b");  // the short part alone needs 11
        shorten_path(path, FakeSystem::calls);
      },
      "a shortened path does not fit in 10 code units");
}

TEST_F(ShortenPathWithFakes, EndsTheRunWhenTheShortFormGrewBetweenTheCalls) {
  FakeSystem::short_form = L"C:\\PROG~FBU";
  FakeSystem::first_answer = 5;
  EXPECT_INTERNAL_LIMIT(
      {
        auto path = bounded(L"C:\\Program Files\\tool.exe");
        shorten_path(path, FakeSystem::calls);
      },
      "the short form of a path needs more room than first reported");
}

// resolve_final_path with made-up final paths; the fake has no short forms unless a case sets one.

enum class FinalPathCall { answers, fails, missing };

struct ResolveCase {
  const char* label;
  FinalPathCall call;
  std::wstring final_path;
  std::wstring short_form;
  std::wstring expected;
};

using ResolveFinalPathWithFakes = WithFakeSystem;

TEST_F(ResolveFinalPathWithFakes, Table) {
  const std::wstring given = L"C:\\given\\tool.exe";
  const ResolveCase cases[] = {
      {"drive form", FinalPathCall::answers, L"\\\\?\\C:\\apps\\tool.exe", L"", L"C:\\apps\\tool.exe"},
      {"UNC form", FinalPathCall::answers, L"\\\\?\\UNC\\server\\share\\tool.exe", L"",
       L"\\\\server\\share\\tool.exe"},
      {"no prefix", FinalPathCall::answers, L"D:\\other\\tool.exe", L"", L"D:\\other\\tool.exe"},
      {"volume form", FinalPathCall::answers, L"\\\\?\\Volume{0a1b}\\tool.exe", L"",
       L"\\\\?\\Volume{0a1b}\\tool.exe"},
      {"final path, then shortened", FinalPathCall::answers,
       L"\\\\?\\C:\\Program Files\\My Tools\\long launcher name.exe", L"C:\\PROG~FBU\\MYTO~1AB",
       L"C:\\PROG~FBU\\MYTO~1AB\\long launcher name.exe"},
      {"call fails", FinalPathCall::fails, L"", L"", given},
      {"call fails, still shortened", FinalPathCall::fails, L"", L"C:\\GIVE~1", L"C:\\GIVE~1\\tool.exe"},
      {"function missing", FinalPathCall::missing, L"", L"", given},
  };
  for (const auto& test_case : cases) {
    SCOPED_TRACE(test_case.label);
    FakeSystem::reset();
    if (test_case.call != FinalPathCall::missing) FakeSystem::final_path = test_case.final_path;
    if (test_case.call == FinalPathCall::fails) FakeSystem::fail_final_path = true;
    FakeSystem::short_form = test_case.short_form;
    auto path = bounded(given);
    resolve_final_path(path, FakeSystem::calls);
    EXPECT_EQ(path.view(), test_case.expected);
  }
}

TEST_F(ResolveFinalPathWithFakes, UndoesThePrefixOfAGivenPathWhenTheFunctionIsMissing) {
  auto path = bounded(L"\\\\?\\C:\\apps\\tool.exe");
  resolve_final_path(path, FakeSystem::calls);
  EXPECT_EQ(path.view(), L"C:\\apps\\tool.exe");
}

TEST_F(ResolveFinalPathWithFakes, EndsTheRunWhenTheFileCannotBeOpened) {
  FakeSystem::open_fails = true;
  EXPECT_INTERNAL_LIMIT(
      {
        auto path = bounded(L"C:\\given\\tool.exe");
        resolve_final_path(path, FakeSystem::calls);
      },
      "an executable file cannot be opened to find its final path");
}

TEST_F(ResolveFinalPathWithFakes, EndsTheRunWhenTheFinalPathDoesNotFit) {
  // 2047 units fit in 2048; 2048 do not.
  const std::wstring fitting = L"C:\\" + std::wstring(2047 - 3, L'a');
  FakeSystem::final_path = fitting;
  auto path = bounded<2048>(L"C:\\given\\tool.exe");
  resolve_final_path(path, FakeSystem::calls);
  EXPECT_EQ(path.view(), fitting);

  FakeSystem::final_path = fitting + L"a";
  EXPECT_INTERNAL_LIMIT(
      {
        auto too_long = bounded<2048>(L"C:\\given\\tool.exe");
        resolve_final_path(too_long, FakeSystem::calls);
      },
      "a final path does not fit in 2048 code units");
}

// resolve_final_path and get_executable_path against the real file system.

TEST(ResolveFinalPath, GivesThePlainFinalPathWithItsDirectoryShortened) {
  TemporaryDirectory temporary;
  const std::wstring file = temporary / L"Long Directory With Spaces\\long launcher name.exe";
  testing::write_file(file, "not a program");
  auto path = bounded(file);
  resolve_final_path(path);
  EXPECT_EQ(path.view(), shortened(file));
  EXPECT_TRUE(path.view().ends_with(L"\\long launcher name.exe"));
  EXPECT_EQ(path.view().find(L"\\\\?\\"), std::wstring_view::npos);
}

TEST(ResolveFinalPath, FollowsASymbolicLinkToItsTarget) {
  const std::wstring executable = get_executable_path(false);
  const std::wstring name = executable.substr(executable.rfind(L'\\') + 1);
  const testing::UnixDirectoryLink link(L"osvari_paths_link_" + std::to_wstring(current_process_id()),
                                        directory_part(executable));
  if (link.path().empty()) GTEST_SKIP() << "no Unix symbolic link to the test program's directory";

  auto through_link = bounded(link.path() + L"\\" + name);
  resolve_final_path(through_link);
  EXPECT_STREQ(through_link.c_str(), get_executable_path(true));
  EXPECT_EQ(through_link.view().find(link.path()), std::wstring_view::npos);
}

TEST(GetExecutablePath, ComputesEachFormOnceAndKeepsIt) {
  const wchar_t* reported = get_executable_path(false);
  const wchar_t* resolved = get_executable_path(true);
  EXPECT_EQ(get_executable_path(false), reported);
  EXPECT_EQ(get_executable_path(true), resolved);
  EXPECT_NE(reported, resolved);

  std::vector<wchar_t> module(executable_path_capacity);
  const std::uint32_t length = own_module_file_name(module.data(), executable_path_capacity);
  EXPECT_EQ(std::wstring(reported), std::wstring(module.data(), length));

  auto expected = bounded(reported);
  resolve_final_path(expected);
  EXPECT_STREQ(resolved, expected.c_str());
  const std::wstring_view reported_view(reported);
  EXPECT_TRUE(std::wstring_view(resolved).ends_with(reported_view.substr(reported_view.rfind(L'\\'))));
}

}  // namespace
}  // namespace osvari
