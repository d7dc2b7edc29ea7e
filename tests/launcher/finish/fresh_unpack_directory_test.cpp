// The parent's unpack directory is one it has just created, over a scripted file system.
#include "launcher/finish/fresh_unpack_directory.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace osvari {
namespace {

// TEMP is C:\T; names are onefile_7_<the published stamp>.
class ScriptedCreation final : public FreshDirectoryOperations {
 public:
  std::set<std::wstring> taken;          // names that exist already
  bool temp_exists = true;
  bool expansion_fails_on_retry = false;
  std::uint64_t clock = 1000;            // does not move unless a test moves it
  std::vector<std::wstring> created;
  std::vector<std::wstring> published;
  std::optional<std::wstring> start = L"1000";

  bool expand(UnpackDirectory& directory) override {
    if (expansion_fails_on_retry) return false;
    return directory.assign(L"C:\\T\\onefile_7_" + start.value_or(L"?"));
  }
  CreateDirectoryResult create_directory(const wchar_t* path) override {
    if (!temp_exists) return CreateDirectoryResult::failed;
    if (taken.contains(path)) return CreateDirectoryResult::already_exists;
    created.emplace_back(path);
    taken.insert(path);
    return CreateDirectoryResult::created;
  }
  void create_parent_directories(const wchar_t*) override { temp_exists = true; }
  std::optional<std::wstring> start_time() override { return start; }
  void publish_start_time(const std::wstring& stamp) override {
    published.push_back(stamp);
    start = stamp;
  }
  std::uint64_t system_time() override { return clock; }
};

UnpackDirectory first_name() {
  UnpackDirectory directory;
  EXPECT_TRUE(directory.assign(L"C:\\T\\onefile_7_1000"));
  return directory;
}

TEST(FreshUnpackDirectory, TakesANewStampForEveryNameThatIsTaken) {
  struct Case {
    const char* label;
    int names_taken;
    FreshDirectoryResult result;
    std::vector<std::wstring> published;
  };
  const Case cases[] = {
      {"free_at_once", 0, FreshDirectoryResult::created, {}},
      {"two_taken", 2, FreshDirectoryResult::created, {L"1001", L"1002"}},
      {"four_taken", 4, FreshDirectoryResult::created, {L"1001", L"1002", L"1003", L"1004"}},
      {"five_taken_gives_up", 5, FreshDirectoryResult::failed, {L"1001", L"1002", L"1003", L"1004"}},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    ScriptedCreation system;
    for (int i = 0; i < entry.names_taken; ++i) system.taken.insert(L"C:\\T\\onefile_7_" + std::to_wstring(1000 + i));
    UnpackDirectory directory = first_name();
    EXPECT_EQ(create_fresh_unpack_directory(directory, system), entry.result);
    EXPECT_EQ(system.published, entry.published);
    if (entry.result == FreshDirectoryResult::created) {
      EXPECT_EQ(system.created, std::vector<std::wstring>{std::wstring(directory.view())});
    } else {
      EXPECT_TRUE(system.created.empty());
    }
  }
}

TEST(FreshUnpackDirectory, ANewStampFollowsTheClockWhenItHasMoved) {
  ScriptedCreation system;
  system.taken.insert(L"C:\\T\\onefile_7_1000");
  system.clock = 5000;
  UnpackDirectory directory = first_name();
  EXPECT_EQ(create_fresh_unpack_directory(directory, system), FreshDirectoryResult::created);
  EXPECT_EQ(directory.view(), L"C:\\T\\onefile_7_5000");
}

TEST(FreshUnpackDirectory, MissingTempIsCreatedFirst) {
  ScriptedCreation system;
  system.temp_exists = false;
  UnpackDirectory directory = first_name();
  EXPECT_EQ(create_fresh_unpack_directory(directory, system), FreshDirectoryResult::created);
  EXPECT_EQ(system.created, std::vector<std::wstring>{L"C:\\T\\onefile_7_1000"});
}

TEST(FreshUnpackDirectory, ANameThatCannotBeExpandedAgainIsReported) {
  ScriptedCreation system;
  system.taken.insert(L"C:\\T\\onefile_7_1000");
  system.expansion_fails_on_retry = true;
  UnpackDirectory directory = first_name();
  EXPECT_EQ(create_fresh_unpack_directory(directory, system), FreshDirectoryResult::not_expanded);
}

}  // namespace
}  // namespace osvari
