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
  std::uint64_t time_now = 1000;
  int time_left = 1000;                            // out_of_time answers false this many times
  std::vector<std::wstring> removed;

  bool list_candidates(const std::wstring&, std::vector<DirectoryEntry>& out) override {
    out = entries;
    return true;
  }
  bool is_made_by_this_launcher(const std::wstring& path) override { return !not_made.contains(path); }
  bool is_marked_in_use(const std::wstring& name) override { return marked.contains(name); }
  std::uint64_t now() override { return time_now; }
  std::optional<std::uint64_t> running_process_start_time(std::uint32_t id) override {
    const auto found = running.find(id);
    if (found == running.end()) return std::nullopt;
    return found->second;
  }
  bool is_owned_by_current_user(const std::wstring& path) override { return !foreign.contains(path); }
  void remove_tree(const std::wstring& path, const std::function<bool()>&) override { removed.push_back(path); }
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
  };
  system.running = {{2, 50}, {3, 150}, {4, 50}, {21, 150}, {22, 1}};
  system.marked = {L"onefile_4_100"};
  system.foreign = {L"T\\onefile_6_100"};
  system.not_made = {L"T\\onefile_20_100", L"T\\onefile_21_100", L"T\\onefile_22_5"};
  const auto swept = sweep_finished_runs(L"T", L"onefile_5_100", system);
  EXPECT_EQ(swept, (std::vector<std::wstring>{L"onefile_1_100", L"onefile_3_100"}));
  EXPECT_EQ(system.removed, (std::vector<std::wstring>{L"T\\onefile_1_100", L"T\\onefile_3_100"}));
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

}  // namespace
}  // namespace osvari
