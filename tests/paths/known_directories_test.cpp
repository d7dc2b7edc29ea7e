// The known directory list over a scripted file system, then over the real one.
#include "paths/known_directories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/error_reporting.h"
#include "paths/runtime_spec.h"
#include "tests/support/exit_expectations.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

using Paths = std::vector<std::wstring>;

// Directories compare without regard to case, as on Windows; drives always exist.
class ScriptedFileSystem final : public DirectoryOperations {
 public:
  explicit ScriptedFileSystem(std::initializer_list<const wchar_t*> existing) {
    for (const wchar_t* path : existing) directories_.insert(folded(path));
  }

  std::wstring profile = L"C:\\Users\\me";
  std::set<std::wstring> links;  // existing directories that are links, in folded form
  bool profile_expands = true;
  int profile_expansions = 0;
  Paths create_calls;

  CreateDirectoryResult create_directory(const wchar_t* path) override {
    create_calls.emplace_back(path);
    const std::wstring key = folded(path);
    if (directories_.contains(key)) return CreateDirectoryResult::already_exists;
    const std::size_t separator = key.find_last_of(L'\\');
    if (separator == std::wstring::npos) return CreateDirectoryResult::failed;
    const std::wstring parent = key.substr(0, separator);
    const bool parent_is_drive = parent.size() == 2 && parent[1] == L':';
    if (!parent_is_drive && !directories_.contains(parent)) return CreateDirectoryResult::failed;
    directories_.insert(key);
    return CreateDirectoryResult::created;
  }

  bool is_link(const wchar_t* path) override { return links.contains(folded(path)); }

  bool expand_profile_directory(ProfileDirectory& output) override {
    ++profile_expansions;
    return profile_expands && output.assign(profile);
  }

  [[nodiscard]] bool exists(const std::wstring& path) const { return directories_.contains(folded(path)); }

 private:
  static std::wstring folded(std::wstring path) {
    std::transform(path.begin(), path.end(), path.begin(), [](wchar_t unit) { return std::towlower(unit); });
    return path;
  }
  std::set<std::wstring> directories_;
};

TEST(EnsureDirectory, FirstCallListsTheProfileThenTheDirectory) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  EXPECT_TRUE(list.ensure_directory(L"D:\\T"));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"D:\\T"}));
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T"}));
}

TEST(EnsureDirectory, ListedDirectoriesAreAnsweredWithoutSystemCall) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  EXPECT_TRUE(list.ensure_directory(L"C:\\Users\\me"));  // the profile, never created nor tested
  EXPECT_TRUE(files.create_calls.empty());
  EXPECT_TRUE(list.ensure_directory(L"D:\\T\\new"));
  EXPECT_TRUE(list.ensure_directory(L"D:\\T\\new"));
  EXPECT_TRUE(list.ensure_directory(L"C:\\Users\\me"));
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T\\new"}));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"D:\\T\\new"}));
}

TEST(EnsureDirectory, BareDriveIsTrueWithoutSystemCallAndNotListed) {
  ScriptedFileSystem files{L"C:\\"};
  KnownDirectoryList list(files);
  EXPECT_TRUE(list.ensure_directory(L"C:"));
  EXPECT_TRUE(list.ensure_directory(L"z:"));
  EXPECT_TRUE(files.create_calls.empty());
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me"}));

  EXPECT_TRUE(list.ensure_directory(L"C:\\"));
  EXPECT_EQ(files.create_calls, (Paths{L"C:\\"}));
}

TEST(EnsureDirectory, ListIsSearchedWithLetterCaseCounting) {
  ScriptedFileSystem files{L"C:\\Temp", L"C:\\Temp\\A"};
  KnownDirectoryList list(files);
  EXPECT_TRUE(list.ensure_directory(L"C:\\Temp\\A"));
  EXPECT_TRUE(list.ensure_directory(L"c:\\temp\\a"));
  EXPECT_EQ(files.create_calls, (Paths{L"C:\\Temp\\A", L"c:\\temp\\a"}));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"C:\\Temp\\A", L"c:\\temp\\a"}));
}

TEST(EnsureDirectory, MissingParentIsFalseAndNotListed) {
  ScriptedFileSystem files{};
  KnownDirectoryList list(files);
  EXPECT_FALSE(list.ensure_directory(L"D:\\T\\u"));
  EXPECT_FALSE(list.ensure_directory(L"D:\\T\\u"));
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T\\u", L"D:\\T\\u"}));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me"}));
}

TEST(EnsureDirectory, ExistingLinkIsFalseAndNotListed) {
  ScriptedFileSystem files{L"D:\\T", L"D:\\T\\planted"};
  files.links.insert(L"d:\\t\\planted");
  KnownDirectoryList list(files);
  EXPECT_FALSE(list.ensure_directory(L"D:\\T\\planted"));
  EXPECT_TRUE(list.ensure_directory(L"D:\\T"));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"D:\\T"}));
}

TEST(EnsureDirectory, FullListStillCreatesButRemembersNoMore) {
  ScriptedFileSystem files{};
  KnownDirectoryList list(files);
  for (std::size_t i = 1; i < known_directory_limit; ++i) {
    ASSERT_TRUE(list.ensure_directory((L"D:\\d" + std::to_wstring(i)).c_str()));
  }
  ASSERT_EQ(list.entries().size(), known_directory_limit);
  files.create_calls.clear();

  EXPECT_TRUE(list.ensure_directory(L"D:\\extra"));
  EXPECT_TRUE(list.ensure_directory(L"D:\\extra"));  // asked again: already exists
  EXPECT_TRUE(files.exists(L"D:\\extra"));
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\extra", L"D:\\extra"}));
  EXPECT_EQ(list.entries().size(), known_directory_limit);
  EXPECT_EQ(list.entries().back(), L"D:\\d1023");
}

TEST(EnsureDirectory, ProfileIsExpandedOnTheFirstCallOnly) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  EXPECT_TRUE(list.ensure_directory(L"D:\\T"));
  files.profile = L"E:\\Elsewhere";
  EXPECT_FALSE(list.ensure_directory(L"D:\\missing\\x"));
  EXPECT_TRUE(list.ensure_directory(L"D:\\T\\v"));
  EXPECT_EQ(files.profile_expansions, 1);
  EXPECT_EQ(list.entries().front(), L"C:\\Users\\me");
}

TEST(EnsureDirectoryDeathTest, ProfileThatCannotBeExpandedEndsTheRun) {
  ScriptedFileSystem files{L"D:\\T"};
  files.profile_expands = false;
  KnownDirectoryList list(files);
  EXPECT_EXPAND_ERROR((void)list.ensure_directory(L"D:\\T"), "\\{HOME\\}");
}

TEST(CreateParentDirectories, ClimbsToAnExistingAncestorThenCreatesDownward) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  list.create_parent_directories(L"D:\\T\\u\\a\\b");
  // D:\T\u\a fails on the way up; D:\T\u can be made at once and ends the climb; D:\T is
  // never asked for.
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T\\u\\a", L"D:\\T\\u", L"D:\\T\\u\\a"}));
  EXPECT_TRUE(files.exists(L"D:\\T\\u\\a"));
  EXPECT_FALSE(files.exists(L"D:\\T\\u\\a\\b"));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"D:\\T\\u", L"D:\\T\\u\\a"}));
}

TEST(CreateParentDirectories, CreatesEveryMissingAncestorNearestTheRootFirst) {
  ScriptedFileSystem files{};  // only the drive exists
  KnownDirectoryList list(files);
  list.ensure_directory_with_ancestors(L"D:\\T\\u\\a");
  // One failed call per missing directory on the way up, one successful call on the way down.
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T\\u\\a", L"D:\\T\\u", L"D:\\T", L"D:\\T\\u", L"D:\\T\\u\\a"}));
  EXPECT_TRUE(files.exists(L"D:\\T\\u\\a"));
  EXPECT_EQ(list.entries(), (Paths{L"C:\\Users\\me", L"D:\\T", L"D:\\T\\u", L"D:\\T\\u\\a"}));
}

TEST(CreateParentDirectories, ClimbStopsAtTheProfileDirectory) {
  ScriptedFileSystem files{};  // the profile directory is listed, never created or probed
  KnownDirectoryList list(files);
  list.create_parent_directories(L"C:\\Users\\me\\a\\b");
  EXPECT_EQ(files.create_calls, (Paths{L"C:\\Users\\me\\a", L"C:\\Users\\me\\a"}));
}

TEST(CreateParentDirectories, PathWithoutParentDoesNothing) {
  for (const wchar_t* path : {L"", L"dir", L"\\dir", L"\\"}) {
    ScriptedFileSystem files{};
    KnownDirectoryList list(files);
    list.create_parent_directories(path);
    EXPECT_TRUE(files.create_calls.empty()) << narrow_for_message(path);
    EXPECT_TRUE(list.entries().empty()) << narrow_for_message(path);
  }
}

TEST(CreateParentDirectories, AcceptsPathOf4095CodeUnits) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  const std::wstring path = L"D:\\T\\" + std::wstring(4095 - 5, L'a');
  ASSERT_EQ(path.size(), 4095u);
  list.create_parent_directories(path.c_str());
  EXPECT_EQ(files.create_calls, (Paths{L"D:\\T"}));
}

TEST(CreateParentDirectoriesDeathTest, PathOf4096CodeUnitsEndsTheRun) {
  ScriptedFileSystem files{L"D:\\T"};
  KnownDirectoryList list(files);
  const std::wstring path = L"D:\\T\\" + std::wstring(4096 - 5, L'a');
  EXPECT_INTERNAL_LIMIT(list.create_parent_directories(path.c_str()),
                        "a directory path does not fit in 4096 code units");
}

TEST(CreateParentDirectoriesDeathTest, NullPathEndsTheRun) {
  ScriptedFileSystem files{};
  KnownDirectoryList list(files);
  EXPECT_INTERNAL_LIMIT(list.create_parent_directories(nullptr), "no directory path was given to create the parents of");
}

TEST(KnownDirectoriesOnTheSystem, CreateANestedTree) {
  TemporaryDirectory directory;
  KnownDirectoryList list(system_directory_operations());
  const std::wstring root = directory.path().wstring();

  const std::wstring deep = root + L"\\a\\b\\c";
  list.ensure_directory_with_ancestors(deep.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(deep));

  const std::wstring other = root + L"\\x\\y\\z";
  list.create_parent_directories(other.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(root + L"\\x\\y"));
  EXPECT_FALSE(std::filesystem::exists(other));

  // A directory that exists already counts as made; a missing parent does not.
  const std::wstring existing = root + L"\\existing";
  std::filesystem::create_directory(existing);
  EXPECT_TRUE(list.ensure_directory(existing.c_str()));
  EXPECT_FALSE(list.ensure_directory((root + L"\\missing\\child").c_str()));

  BoundedWideString<4096> home;
  ASSERT_TRUE(expand_runtime_spec(home, L"{HOME}"));
  ASSERT_FALSE(list.entries().empty());
  EXPECT_EQ(list.entries().front(), home.view());
}

TEST(KnownDirectoriesOnTheSystem, ProcessWideListCreatesDirectories) {
  TemporaryDirectory directory;
  const std::wstring path = directory.path().wstring() + L"\\one\\two";
  EXPECT_FALSE(ensure_directory(path.c_str()));
  create_parent_directories(path.c_str());
  EXPECT_TRUE(ensure_directory(path.c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(known_directories().entries().back(), path);
}

}  // namespace
}  // namespace osvari::testing
