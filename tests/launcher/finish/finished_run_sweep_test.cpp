// Which folders the sweep takes: names, marks, processes, owners and limits, over a script.
#include "launcher/finish/finished_run_sweep.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace osvari {
namespace {

constexpr std::uint32_t directory = attribute_directory;

// TEMP is T; processes, marks and owners as scripted.
class ScriptedSweep final : public SweepOperations {
 public:
  std::vector<DirectoryEntry> entries;
  std::set<std::wstring> marked;
  std::map<std::uint32_t, std::uint64_t> running;  // process id -> start time
  std::set<std::wstring> foreign;                  // paths owned by someone else
  std::set<std::wstring> not_made;                 // paths without this launcher's record
  std::set<std::wstring> about_to_be_made;         // recorded before they were made, no identity
  std::vector<std::wstring> removed_if_empty;
  std::uint64_t time_now = 1000;
  int time_left = 1000;                            // out_of_time answers false this many times
  std::vector<std::wstring> removed;
  std::vector<std::wstring> tried;                 // every remove_tree call, in order
  std::set<std::wstring> stays;                    // paths remove_tree cannot take

  bool list_candidates(const std::wstring&, std::vector<DirectoryEntry>& out) override {
    out = entries;
    return true;
  }
  MadeFolder made_state(const std::wstring& path) override {
    if (not_made.contains(path)) return MadeFolder::not_recorded;
    return about_to_be_made.contains(path) ? MadeFolder::about_to_be_made : MadeFolder::made;
  }
  bool is_marked_in_use(const std::wstring& name) override { return marked.contains(name); }
  std::uint64_t now() override { return time_now; }
  std::optional<std::uint64_t> running_process_start_time(std::uint32_t id) override {
    const auto found = running.find(id);
    if (found == running.end()) return std::nullopt;
    return found->second;
  }
  bool is_owned_by_current_user(const std::wstring& path) override { return !foreign.contains(path); }
  void remove_tree(const std::wstring& path, const std::function<bool()>&) override {
    tried.push_back(path);
    if (!stays.contains(path)) removed.push_back(path);
  }
  void remove_if_empty(const std::wstring& path) override { removed_if_empty.push_back(path); }
  bool out_of_time() override { return time_left-- <= 0; }
};

TEST(SweepFinishedRuns, TakesOnlyFoldersOfRunsThatAreOver) {
  ScriptedSweep system;
  system.entries = {
      {L"onefile_1_100", directory},               // no process 1: over
      {L"onefile_2_100", directory},               // process 2 started before: running
      {L"onefile_3_100", directory},               // process 3 started after: the id was reused
      {L"onefile_4_100", directory},               // marked in use (an orphaned child holds it)
      {L"onefile_5_100", directory},               // this run's own folder
      {L"onefile_6_100", directory},               // another user's
      {L"onefile_7_100", attribute_normal},        // a file
      {L"onefile_8_100", directory | attribute_reparse_point},  // a link: never made here
      {L"onefile_keep", directory},
      {L"onefile_12_ab", directory},
      {L"onefile_20_100", directory},   // no process 20, but another program's: no record
      {L"onefile_21_100", directory},   // process 21 started after, another program's
      {L"onefile_22_5", directory},     // another program's, stamped in seconds, its maker running
      {L"onefile_23_2000", directory},  // recorded, but stamped after now
      {L"onefile_24_100", directory},   // about to be made when its run was killed: only if empty
      {L"onefile_25_100", directory},   // about to be made, its run still going
  };
  system.running = {{2, 50}, {3, 150}, {4, 50}, {21, 150}, {22, 1}, {25, 50}};
  system.about_to_be_made = {L"T\\onefile_24_100", L"T\\onefile_25_100"};
  system.marked = {L"onefile_4_100"};
  system.foreign = {L"T\\onefile_6_100"};
  system.not_made = {L"T\\onefile_20_100", L"T\\onefile_21_100", L"T\\onefile_22_5"};
  const auto swept = sweep_finished_runs(L"T", L"onefile_5_100", system);
  EXPECT_EQ(swept, (std::vector<std::wstring>{L"onefile_1_100", L"onefile_3_100", L"onefile_24_100"}));
  EXPECT_EQ(system.removed, (std::vector<std::wstring>{L"T\\onefile_1_100", L"T\\onefile_3_100"}));
  EXPECT_EQ(system.removed_if_empty, std::vector<std::wstring>{L"T\\onefile_24_100"});
}

TEST(SweepFinishedRuns, StopsAtItsLimitAndWhenOutOfTime) {
  struct Case {
    const char* label;
    int finished;
    int time_left;
    std::size_t removed;
  };
  const Case cases[] = {
      {"limit", 20, 1000, static_cast<std::size_t>(sweep_removal_limit)},
      {"time", 20, 3, 3},
      {"no_time_at_all", 20, 0, 0},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.label);
    ScriptedSweep system;
    for (int i = 0; i < entry.finished; ++i) system.entries.push_back({L"onefile_1_" + std::to_wstring(i), directory});
    system.time_left = entry.time_left;
    EXPECT_EQ(sweep_finished_runs(L"T", L"", system).size(), entry.removed);
  }
}

// The start-up budget: its time first, then a fixed number of further steps, whatever the time,
// so a start whose time went on listing a large leftover still deletes some of it.
TEST(StartUpBudget, AllowsItsStepsPastTimeAndNoMore) {
  const std::function<bool()> spent_time = start_up_budget(std::chrono::milliseconds(0), 3);
  for (int step = 0; step < 3; ++step) EXPECT_FALSE(spent_time()) << step;
  EXPECT_TRUE(spent_time());
  EXPECT_TRUE(spent_time());

  const std::function<bool()> time_left = start_up_budget(std::chrono::hours(1), 0);
  for (int step = 0; step < 100; ++step) EXPECT_FALSE(time_left()) << step;
}

// With no limit (the sweep while waiting), every finished run goes in one call.
TEST(SweepFinishedRuns, WithNoLimitTakesEveryFinishedRunUntilTimeRunsOut) {
  ScriptedSweep system;
  for (int i = 0; i < 50; ++i) system.entries.push_back({L"onefile_1_" + std::to_wstring(i), directory});
  EXPECT_EQ(sweep_finished_runs(L"T", L"", system, no_removal_limit).size(), 50u);
  ScriptedSweep stopped;
  stopped.entries = system.entries;
  stopped.time_left = 20;
  EXPECT_LT(sweep_finished_runs(L"T", L"", stopped, no_removal_limit).size(), 50u);
}

// Folders that will not go (a file held open) must not take every start's turns: each start
// begins elsewhere in the listing, so every folder is reached.
TEST(SweepFinishedRuns, FoldersThatStayDoNotHoldEveryStartsTurns) {
  ScriptedSweep system;
  for (int i = 0; i < 20; ++i) system.entries.push_back({L"onefile_1_" + std::to_wstring(i), directory});
  for (int i = 0; i < sweep_removal_limit; ++i) system.stays.insert(L"T\\onefile_1_" + std::to_wstring(i));
  std::set<std::wstring> reached;
  for (std::uint64_t rotation = 0; rotation < 20; rotation += sweep_removal_limit) {
    system.tried.clear();
    (void)sweep_finished_runs(L"T", L"", system, sweep_removal_limit, rotation);
    EXPECT_EQ(system.tried.size(), static_cast<std::size_t>(sweep_removal_limit));
    reached.insert(system.tried.begin(), system.tried.end());
  }
  EXPECT_EQ(reached.size(), 20u);
  const auto first_tried = [&system](std::uint64_t rotation) {
    system.tried.clear();
    (void)sweep_finished_runs(L"T", L"", system, 1, rotation);
    return system.tried.at(0);
  };
  EXPECT_EQ(first_tried(0), L"T\\onefile_1_0");
  EXPECT_EQ(first_tried(13), L"T\\onefile_1_13");
  EXPECT_EQ(first_tried(20 + 5), L"T\\onefile_1_5");
}

}  // namespace
}  // namespace osvari
