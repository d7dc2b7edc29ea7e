// Two runs repairing one cache folder at once, their steps interleaved by a script: an entry the
// other run has put right is never removed or replaced, and whatever the other run leaves at a
// name is looked at before it is accepted.
#include "launcher/cache/cache_repair.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "launcher/cache/cache_folder.h"
#include "launcher/cache/cached_files.h"

namespace osvari {
namespace {

constexpr std::uint64_t size = 10;

DirectoryEntry right_file() { return {{}, attribute_normal, size, cached_file_time}; }
DirectoryEntry wrong_file() { return {{}, attribute_normal, size + 1, cached_file_time}; }
DirectoryEntry stale_file() { return {{}, attribute_normal, size, cached_file_time + 1}; }
DirectoryEntry folder() { return {{}, attribute_directory, 0, 0}; }

// The cache folder C and the repair folder R as maps of path to entry; `other_run` acts just
// before this run's next call on a path, as the other run would between this run's steps.
class ScriptedFolders final : public CacheRepairOperations {
 public:
  std::map<std::wstring, DirectoryEntry> entries;
  std::map<std::wstring, std::function<void(ScriptedFolders&)>> other_run;
  std::vector<std::wstring> removed;
  std::set<std::wstring> held;  // files that will not go (held open without delete sharing)
  int pauses = 0;

  std::optional<DirectoryEntry> look(const std::wstring& path) override {
    act_before(path);
    const auto found = entries.find(path);
    if (found == entries.end()) return std::nullopt;
    return found->second;
  }
  Removal remove_unless(const std::wstring& path, const std::function<bool(const DirectoryEntry&)>& keep) override {
    act_before(path);
    const auto found = entries.find(path);
    if (found == entries.end()) return Removal::gone;
    if (keep(found->second)) return Removal::kept;
    if ((found->second.attributes & attribute_directory) != 0 || held.contains(path)) return Removal::stays;
    removed.push_back(path);
    entries.erase(found);
    return Removal::gone;
  }
  bool move_without_replacing(const std::wstring& from, const std::wstring& to) override {
    act_before(to);
    if (entries.contains(to) || !entries.contains(from)) return false;
    entries[to] = entries[from];
    entries.erase(from);
    return true;
  }
  void pause() override { ++pauses; }

 private:
  void act_before(const std::wstring& path) {
    const auto action = other_run.find(path);
    if (action == other_run.end()) return;
    const auto act = std::move(action->second);
    other_run.erase(action);
    act(*this);
  }
};

CacheIndex index_of(std::initializer_list<const wchar_t*> names) {
  CacheIndex index{L"0123456789abcdef", {}};
  for (const wchar_t* name : names) index.entries.push_back({name, size});
  return index;
}

TEST(ClearFlaggedEntries, LeavesWhatTheOtherRunPutRightSinceTheCheck) {
  struct Case {
    const char* label;
    std::optional<DirectoryEntry> at_check;                 // what the check found
    std::function<void(ScriptedFolders&)> other_run;        // what the other run does then
    bool cleared;                                           // the call succeeds
    std::optional<DirectoryEntry> after;                    // what is at the name afterwards
    bool still_flagged;
  };
  const auto replace_with = [](DirectoryEntry entry) {
    return [entry](ScriptedFolders& folders) { folders.entries[L"C\\a"] = entry; };
  };
  const Case cases[] = {
      {"wrong_then_put_right", wrong_file(), replace_with(right_file()), true, right_file(), false},
      {"missing_then_put_right", std::nullopt, replace_with(right_file()), true, right_file(), false},
      {"wrong_and_still_wrong", wrong_file(), {}, true, std::nullopt, true},
      {"changed_in_place_and_still_so", stale_file(), {}, true, std::nullopt, true},
      {"wrong_then_another_wrong_one", wrong_file(), replace_with(stale_file()), true, std::nullopt, true},
      {"a_folder_stays", folder(), {}, false, folder(), true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ScriptedFolders folders;
    if (test.at_check) folders.entries[L"C\\a"] = *test.at_check;
    folders.entries[L"C\\b"] = right_file();
    if (test.other_run) folders.other_run[L"C\\a"] = test.other_run;
    const CacheIndex index = index_of({L"a", L"b"});
    std::vector<bool> rewrite = {true, false};
    EXPECT_EQ(clear_flagged_entries(L"C", index, rewrite, folders), test.cleared);
    const auto found = folders.entries.find(L"C\\a");
    ASSERT_EQ(found != folders.entries.end(), test.after.has_value());
    if (test.after) {
      EXPECT_EQ(found->second.last_write_time, test.after->last_write_time);
    }
    EXPECT_EQ(rewrite[0], test.still_flagged);
    EXPECT_TRUE(folders.entries.contains(L"C\\b"));
  }
}

TEST(PlaceRepairedFile, LooksAtWhatTheOtherRunPutThereBeforeAcceptingIt) {
  struct Case {
    const char* label;
    std::function<void(ScriptedFolders&)> other_run;  // just before this run's rename
    bool held;                                        // what is there will not go
    Placed placed;
    std::uint64_t time_there;                         // of the file at the name afterwards
  };
  const auto put = [](DirectoryEntry entry) {
    return [entry](ScriptedFolders& folders) { folders.entries[L"C\\a"] = entry; };
  };
  const Case cases[] = {
      {"nothing_there", {}, false, Placed::moved, cached_file_time + 7},
      {"its_verified_copy", put(right_file()), false, Placed::right_already, cached_file_time},
      {"a_wrong_file", put(stale_file()), false, Placed::moved, cached_file_time + 7},
      {"a_wrong_file_that_will_not_go", put(stale_file()), true, Placed::refused, cached_file_time + 1},
      {"a_folder", put(folder()), false, Placed::refused, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ScriptedFolders folders;
    DirectoryEntry repaired = right_file();
    repaired.last_write_time = cached_file_time + 7;  // tells this run's copy from the other's
    folders.entries[L"R\\a"] = repaired;
    if (test.other_run) folders.other_run[L"C\\a"] = test.other_run;
    if (test.held) folders.held.insert(L"C\\a");
    EXPECT_EQ(place_repaired_file(L"R\\a", L"C\\a", size, folders), test.placed);
    ASSERT_TRUE(folders.entries.contains(L"C\\a"));
    EXPECT_EQ(folders.entries[L"C\\a"].last_write_time, test.time_there);
  }
}

// The system refuses the rename a moment while nothing is at the name: tried again, with a
// pause between tries, and given up after rename_attempts.
TEST(PlaceRepairedFile, ARefusalWithNothingThereIsTriedAgainAndThenGivenUp) {
  class Refusing final : public CacheRepairOperations {
   public:
    int moves = 0;
    int pauses = 0;
    std::optional<DirectoryEntry> look(const std::wstring&) override { return std::nullopt; }
    Removal remove_unless(const std::wstring&, const std::function<bool(const DirectoryEntry&)>&) override {
      return Removal::gone;
    }
    bool move_without_replacing(const std::wstring&, const std::wstring&) override { return ++moves == 3; }
    void pause() override { ++pauses; }
  };
  Refusing for_a_moment;
  EXPECT_EQ(place_repaired_file(L"R\\a", L"C\\a", size, for_a_moment), Placed::moved);
  EXPECT_EQ(for_a_moment.pauses, 2);
  Refusing for_good;
  for_good.moves = -1000;
  EXPECT_EQ(place_repaired_file(L"R\\a", L"C\\a", size, for_good), Placed::refused);
  EXPECT_EQ(for_good.moves, -1000 + rename_attempts);
  EXPECT_EQ(for_good.pauses, rename_attempts - 1);
}

}  // namespace
}  // namespace osvari
