// Many runs at once, and runs killed at random moments: every exit code right, and once later
// runs have had their time, no folder and no record left, and nothing outside TEMP touched.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <latch>
#include <random>
#include <thread>

#include "launcher/finish/finished_run_sweep.h"
#include "tests/support/leftovers.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

std::vector<TestEntry> application(const std::string& name, int extra_files) {
  std::vector<TestEntry> entries{{u"hosted_app.dll", built_library(L"hosted_app.dll")},
                                 {u"data.txt", name}};
  for (int i = 0; i < extra_files; ++i) {
    const std::string number = std::to_string(i);
    entries.push_back({u"many\\file" + std::u16string(number.begin(), number.end()) + u".bin",
                       varied_bytes(2'000, static_cast<unsigned>(i + 3))});
  }
  return entries;
}

// Canaries beside TEMP and in it, with names close to the launcher's own.
void plant_canaries(SacrificialArea& area, const fs::path& temp) {
  area.add_canary(temp.parent_path() / L"beside_temp.txt");
  area.add_canary(temp.parent_path() / L"onefile_1_1" / L"canary.txt");
  area.add_canary(temp / L"onefile_keep" / L"canary.txt");
  area.add_canary(temp / L"onefile_12_ab" / L"canary.txt");
}

struct LauncherRun {
  const OnefileFixture* exe;
  std::uint32_t expected_exit;
  ProcessResult result;
};

// Starts every run at the same moment, each on a thread of its own, and waits for all.
void run_at_once(std::vector<LauncherRun>& runs, const fs::path& temp) {
  std::latch ready(static_cast<std::ptrdiff_t>(runs.size()));
  std::vector<std::thread> threads;
  for (LauncherRun& run : runs) {
    threads.emplace_back([&run, &ready, &temp] {
      ready.arrive_and_wait();
      run.result = run.exe->run({L"--exit", std::to_wstring(run.expected_exit)},
                                {.environment = {{L"TEMP", temp.wstring()}, {L"TMP", temp.wstring()}}});
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(ManyRunsAtOnce, SixteenOfOneExecutableThenSixteenOfTwo) {
  SacrificialArea area;
  const OnefileFixture first(application("first", 40), L"first.exe");
  const OnefileFixture second(application("second", 40), L"second.exe");
  const fs::path temp = first.temp_directory();
  plant_canaries(area, temp);

  for (const bool two_executables : {false, true}) {
    SCOPED_TRACE(two_executables ? "two executables" : "one executable");
    std::vector<LauncherRun> runs;
    for (std::uint32_t i = 0; i < 16; ++i) {
      runs.push_back({two_executables && i % 2 == 1 ? &second : &first, 10 + i, {}});
    }
    run_at_once(runs, temp);
    for (const LauncherRun& run : runs) {
      EXPECT_EQ(run.result.exit_code, run.expected_exit) << run.result.standard_output << run.result.standard_error;
    }
    EXPECT_EQ(first.unpack_directories(), (std::vector<std::wstring>{L"onefile_12_ab", L"onefile_keep"}));
    EXPECT_EQ(records_below(temp), std::vector<std::wstring>{});
  }
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// Parents killed, or parents and their children, anywhere from their start to the
// application's end; three later runs of 2 s each leave nothing of them.
TEST(KilledRuns, TwentyKilledAtRandomMomentsLeaveNoFolderAndNoRecordAfterThreeRuns) {
  SacrificialArea area;
  const OnefileFixture onefile(application("killed", 300), L"killed_runs.exe");
  const fs::path temp = onefile.temp_directory();
  plant_canaries(area, temp);
  const unsigned seed = std::random_device{}();
  std::cout << "[          ] kill moments from seed " << seed << "\n";
  std::mt19937 random(seed);
  // From just after the process is let run (a process killed while still suspended at its
  // creation may never end under Wine) to the application's end.
  std::uniform_int_distribution<int> moment_ms(30, 1'500);

  constexpr int kills = 20;
  constexpr int at_once = 4;
  std::atomic<int> killed{0};
  for (int batch = 0; batch < kills / at_once; ++batch) {
    std::vector<std::thread> runs;
    for (int i = 0; i < at_once; ++i) {
      const int delay = moment_ms(random);
      const bool with_child = (batch * at_once + i) % 2 == 1;
      runs.emplace_back([&onefile, delay, with_child, &killed] {
        std::atomic<std::uint32_t> parent{0};
        std::thread killer;
        const ProcessResult result = onefile.run(
            {L"--sleep", L"1500"}, {.before_start = [&](std::uint32_t id) {
              parent = id;
              killer = std::thread([id, delay, with_child] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                kill_process(id, 9, with_child);
              });
            }});
        if (killer.joinable()) killer.join();
        EXPECT_TRUE(result.exit_code == 9u || result.exit_code == 0u) << result.exit_code;
        if (result.exit_code == 9u) ++killed;
      });
    }
    for (std::thread& run : runs) run.join();
  }
  std::cout << "[          ] " << killed.load() << " of " << kills << " runs were killed before their end, "
            << onefile.unpack_directories().size() << " folders left\n";

  // Children of killed parents hold their folders in use until they end on their own, 1.5 s
  // after their start. Under Wine a process now and then survives its termination, or its own
  // end, with one thread stuck and its handles open; those still there after 20 s are ended. A
  // parent stuck so still counts as running its folder's run, even once its child has let go
  // of the mark, so the wait is for both.
  const auto none_in_use = [&] {
    for (const std::wstring& name : onefile.unpack_directories()) {
      const HANDLE mark = OpenEventW(SYNCHRONIZE, FALSE, in_use_mark_name(name).c_str());
      if (mark != nullptr) {
        CloseHandle(mark);
        return false;
      }
    }
    return true;
  };
  const auto all_ended = [&] { return none_in_use() && processes_of(L"killed_runs.exe").empty(); };
  if (!eventually(all_ended, std::chrono::seconds(20))) {
    std::cout << "[          ] processes stuck after their end, ended again\n";
    kill_processes_of(L"killed_runs.exe", 9);
  }
  EXPECT_TRUE(eventually(all_ended, std::chrono::seconds(20)));
  for (int run = 0; run < 3; ++run) EXPECT_EQ(onefile.run({L"--sleep", L"2000"}).exit_code, 0u);

  // Why a folder stayed: its maker's id still in use, or its mark still held.
  const auto state_of_folders = [&] {
    std::string state;
    const std::vector<std::uint32_t> running = processes_of(L"killed_runs.exe");
    for (const std::wstring& name : onefile.unpack_directories()) {
      const std::string narrow = fs::path(name).string();
      const std::size_t id_start = narrow.find('_') + 1;
      const std::uint32_t maker = static_cast<std::uint32_t>(std::strtoul(narrow.c_str() + id_start, nullptr, 10));
      const HANDLE mark = OpenEventW(SYNCHRONIZE, FALSE, in_use_mark_name(name).c_str());
      if (mark != nullptr) CloseHandle(mark);
      state += narrow + (std::find(running.begin(), running.end(), maker) != running.end() ? " maker runs" : "") +
               (mark != nullptr ? " marked" : "") + "; ";
    }
    return state;
  };
  EXPECT_EQ(onefile.unpack_directories(), (std::vector<std::wstring>{L"onefile_12_ab", L"onefile_keep"}))
      << state_of_folders();
  EXPECT_EQ(records_below(temp), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace osvari::testing
