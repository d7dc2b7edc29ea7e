// Executables packed for the extraction cache, run for real: the cache folder is filled once
// and atomically, checked and repaired at each start, never taken from another payload, old
// ones go, and links are refused. Every run has a private LOCALAPPDATA, USERPROFILE and TEMP.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <latch>
#include <random>
#include <thread>

#include "tests/support/console_interrupt.h"
#include "tests/support/hex_units.h"
#include "tests/support/leftovers.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/sacrificial_area.h"
#include "tests/support/unix_link.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

std::vector<TestEntry> application(const std::string& data = "packed", int extra_files = 0) {
  std::vector<TestEntry> entries{{u"hosted_app.dll", built_library(L"hosted_app.dll")},
                                 {u"data.txt", data},
                                 {u"sub\\deeper\\nested.bin", varied_bytes(70'000)}};
  for (int i = 0; i < extra_files; ++i) {
    const std::string number = std::to_string(i);
    entries.push_back({u"many\\file" + std::u16string(number.begin(), number.end()) + u".bin",
                       varied_bytes(4'000, static_cast<unsigned>(i + 2))});
  }
  return entries;
}

bool is_present(const fs::path& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> names_in(const fs::path& folder) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().wstring());
  std::sort(names.begin(), names.end());
  return names;
}

// A launcher copy with its own local application data and profile beside its TEMP.
class CachedApplication {
 public:
  explicit CachedApplication(const std::vector<TestEntry>& entries, const std::wstring& exe_name = L"app.exe",
                             fs::path local = {})
      : CachedApplication(cached_attached_data_for(entries), exe_name, std::move(local)) {}
  CachedApplication(const std::string& attached_data, const std::wstring& exe_name, fs::path local)
      : onefile_(attached_data, exe_name),
        local_(local.empty() ? onefile_.temp_directory().parent_path() / L"local" : std::move(local)) {
    fs::create_directories(local_);
    fs::create_directories(profile());
  }

  [[nodiscard]] fs::path profile() const { return onefile_.temp_directory().parent_path() / L"profile"; }
  [[nodiscard]] fs::path cache_root() const { return local_ / L"osvari-onefile"; }
  [[nodiscard]] const OnefileFixture& onefile() const { return onefile_; }

  [[nodiscard]] ProcessOptions options() const {
    return {.environment = {{L"LOCALAPPDATA", local_.wstring()}, {L"USERPROFILE", profile().wstring()}}};
  }
  ProcessResult run(const std::vector<std::wstring>& arguments, ProcessOptions extra = {}) const {
    ProcessOptions all = options();
    all.environment.insert(all.environment.end(), extra.environment.begin(), extra.environment.end());
    all.before_start = extra.before_start;
    all.current_directory = extra.current_directory;
    return onefile_.run(arguments, all);
  }
  // The folders below the cache root: cache folders and any fill left behind.
  [[nodiscard]] std::vector<std::wstring> cache_entries() const { return names_in(cache_root()); }

 private:
  OnefileFixture onefile_;
  fs::path local_;
};

// The file lines of --list-files, which name every file with its size and hash.
std::vector<std::string> file_lines(const std::string& output) {
  std::vector<std::string> files;
  for (const std::string& line : lines_of(output)) {
    if (line.starts_with("file ")) files.push_back(line);
  }
  return files;
}

// Runs the application until `done` holds (two minutes at most) and returns whether it did:
// what killed or finished fills left goes while a later run's application runs.
bool holds_while_a_run_waits(const CachedApplication& app, const std::function<bool()>& done) {
  const fs::path release = app.cache_root().parent_path() / L"release.txt";
  std::error_code ignored;
  fs::remove(release, ignored);
  ProcessResult waited;
  std::thread waiting([&] { waited = app.run({L"--wait-for", L"\"" + release.wstring() + L"\""}); });
  const bool held = eventually(done, std::chrono::seconds(120));
  write_file(release, "go");
  waiting.join();
  EXPECT_EQ(waited.exit_code, 0u) << waited.standard_output << waited.standard_error;
  return held;
}

TEST(CachedRun, FillsOnceKeepsTheFolderAndRunsFromItLater) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult first =
      app.run({L"--print-dir", L"--print-env", L"--list-files", L"--print-args", L"\"x y\"", L"\"\"", L"--exit", L"7"},
              {.current_directory = area.current().wstring()});
  ASSERT_EQ(first.exit_code, 7u) << first.standard_output << first.standard_error;
  const std::vector<std::wstring> entries = app.cache_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].starts_with(L"app-") && entries[0].size() == 4 + 16) << fs::path(entries[0]).string();
  const fs::path folder = app.cache_root() / entries[0];
  EXPECT_EQ(value_of(first.standard_output, "dir"), folder.string());
  EXPECT_EQ(file_lines(first.standard_output).size(), 3u) << first.standard_output;
  // The same four variables as a run without the cache.
  EXPECT_NE(value_of(first.standard_output, "OSVARI_ONEFILE_PARENT"), "(unset)");
  EXPECT_NE(value_of(first.standard_output, "OSVARI_ONEFILE_START"), "(unset)");
  EXPECT_EQ(value_of(first.standard_output, "OSVARI_ONEFILE_DIRECTORY"),
            fs::path(app.onefile().launcher()).parent_path().string());
  EXPECT_EQ(app.onefile().unpack_directories(), std::vector<std::wstring>{});
  // argv[0] is the launcher's full path, the other arguments arrive whole.
  EXPECT_EQ(value_of(first.standard_output, "argc"), "9");
  EXPECT_EQ(value_of(first.standard_output, "arg[0]"), hex_units(app.onefile().launcher()));
  EXPECT_EQ(value_of(first.standard_output, "arg[5]"), hex_units(L"x y"));
  EXPECT_EQ(value_of(first.standard_output, "arg[6]"), "");

  const ProcessResult later = app.run({L"--print-dir", L"--list-files", L"--exit", L"0x1234"});
  EXPECT_EQ(later.exit_code, 0x1234u) << later.standard_output << later.standard_error;
  EXPECT_EQ(value_of(later.standard_output, "dir"), folder.string());
  EXPECT_EQ(file_lines(later.standard_output), file_lines(first.standard_output));
  EXPECT_EQ(app.cache_entries(), entries);
  EXPECT_EQ(app.onefile().unpack_directories(), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// The application runs in the process the user started; one it starts of its own executable
// with the inherited environment enters the same cache folder at once.
TEST(CachedRun, TheApplicationStartingItsOwnExecutableAgainRunsFromTheSameFolder) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult result = app.run({L"--print-dir", L"--relaunch", L"--print-dir", L"--exit", L"5"});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  const std::vector<std::string> lines = lines_of(result.standard_output);
  ASSERT_EQ(lines.size(), 3u) << result.standard_output;
  EXPECT_EQ(lines[0], lines[1]);
  EXPECT_EQ(lines[2], "relaunch exit=5");
  EXPECT_EQ(app.cache_entries().size(), 1u);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, TwoFirstRunsAtOnceBothSucceedAndLeaveOneFolder) {
  SacrificialArea area;
  const CachedApplication app(application("packed", 300));
  ProcessResult results[2];
  std::thread second([&] { results[1] = app.run({L"--list-files"}); });
  results[0] = app.run({L"--list-files"});
  second.join();
  for (const ProcessResult& result : results) {
    EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
    EXPECT_EQ(file_lines(result.standard_output).size(), 303u);
  }
  EXPECT_EQ(file_lines(results[0].standard_output), file_lines(results[1].standard_output));
  const std::vector<std::wstring> entries = app.cache_entries();
  ASSERT_EQ(entries.size(), 1u) << fs::path(entries.back()).string();
  EXPECT_TRUE(entries[0].starts_with(L"app-"));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, AKilledFillLeavesNothingUsableAndALaterRunClearsItAway) {
  SacrificialArea area;
  const CachedApplication app(application("packed", 1500));
  std::atomic<std::uint32_t> process_id{0};
  std::atomic<bool> killed{false};
  std::thread killer([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
      for (const std::wstring& name : app.cache_entries()) {
        // Some files of the fill are written: kill it part way.
        if (name.starts_with(L"onefile_") && names_in(app.cache_root() / name / L"many").size() > 20 &&
            process_id != 0) {
          HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
          killed = process != nullptr && TerminateProcess(process, 9);
          if (process != nullptr) CloseHandle(process);
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const ProcessResult cut = app.run({L"--exit", L"0"}, {.before_start = [&](std::uint32_t id) { process_id = id; }});
  killer.join();
  ASSERT_TRUE(killed.load()) << "the fill ended before it could be killed";
  EXPECT_EQ(cut.exit_code, 9u);
  std::vector<std::wstring> left = app.cache_entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].starts_with(L"onefile_")) << "a cut-short fill must never be at the cache name";

  const std::size_t files_left = names_in(app.cache_root() / left[0] / L"many").size();
  const ProcessResult later = app.run({L"--list-files"});
  EXPECT_EQ(later.exit_code, 0u) << later.standard_output << later.standard_error;
  EXPECT_EQ(file_lines(later.standard_output).size(), 1503u);
  // A run from the cache clears what is left away while its application runs.
  EXPECT_TRUE(holds_while_a_run_waits(app, [&] { return app.cache_entries().size() == 1; }))
      << files_left << " files left by the cut-short fill";
  const std::vector<std::wstring> entries = app.cache_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].starts_with(L"app-"));
  EXPECT_EQ(records_below(app.cache_root()), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

std::string utf8_name(const std::u16string& name) {
  return fs::path(std::wstring(name.begin(), name.end())).string();
}

// What --list-files prints for `entries`, sorted.
std::vector<std::string> expected_file_lines(const std::vector<TestEntry>& entries) {
  std::vector<std::string> lines;
  for (const TestEntry& entry : entries) {
    lines.push_back("file " + utf8_name(entry.name) + " " + std::to_string(entry.contents.size()) + " " +
                    fnv1a_hex(entry.contents));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> sorted_file_lines(const std::string& output) {
  std::vector<std::string> lines = file_lines(output);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The entries whose file in `folder` is missing or differs from its source in any byte.
std::vector<std::string> differing_files(const fs::path& folder, const std::vector<TestEntry>& entries) {
  std::vector<std::string> differing;
  for (const TestEntry& entry : entries) {
    const fs::path path = folder / std::wstring(entry.name.begin(), entry.name.end());
    if (!is_present(path) || read_file(path) != entry.contents) differing.push_back(utf8_name(entry.name));
  }
  return differing;
}

// Eight first runs at the same moment, some of them killed at random moments of their fill:
// every run that is not killed sees all its files right, every cached file is byte for byte its
// source afterwards, and the fills the killed runs left go while a later run's application runs.
TEST(CachedRunsAtOnce, EightFirstRunsSomeKilledDuringTheirFills) {
  SacrificialArea area;
  const std::vector<TestEntry> entries = application("packed", 300);
  const unsigned seed = std::random_device{}();
  std::cout << "[          ] kill moments from seed " << seed << "\n";
  std::mt19937 random(seed);
  // From just after the process is let run: under Wine a process killed while still suspended
  // at its creation may never end.
  std::uniform_int_distribution<int> moment_ms(30, 600);

  for (const bool with_kills : {false, true}) {
    SCOPED_TRACE(with_kills ? "some killed" : "none killed");
    const CachedApplication app(entries, with_kills ? L"killed_fills.exe" : L"app.exe");
    constexpr int runs = 8;
    std::vector<ProcessResult> results(runs);
    std::vector<int> kill_after_ms(runs, -1);
    if (with_kills) {
      for (int i = 0; i < runs; i += 2) kill_after_ms[i] = moment_ms(random);
    }
    std::latch ready(runs);
    std::vector<std::thread> threads;
    for (int i = 0; i < runs; ++i) {
      threads.emplace_back([&, i] {
        std::thread killer;
        ProcessOptions options;
        if (kill_after_ms[i] >= 0) {
          options.before_start = [&killer, delay = kill_after_ms[i]](std::uint32_t id) {
            killer = std::thread([id, delay] {
              std::this_thread::sleep_for(std::chrono::milliseconds(delay));
              kill_process(id, 9, false);
            });
          };
        }
        ready.arrive_and_wait();
        results[i] = app.run({L"--list-files"}, options);
        if (killer.joinable()) killer.join();
      });
    }
    for (std::thread& thread : threads) thread.join();
    int killed = 0;
    for (int i = 0; i < runs; ++i) {
      if (kill_after_ms[i] >= 0 && results[i].exit_code == 9u) {
        ++killed;
        continue;
      }
      EXPECT_EQ(results[i].exit_code, 0u) << results[i].standard_output << results[i].standard_error;
      EXPECT_EQ(sorted_file_lines(results[i].standard_output), expected_file_lines(entries)) << "run " << i;
    }
    std::cout << "[          ] " << killed << " of " << runs << " first runs killed during their fill\n";

    const ProcessResult later = app.run({L"--list-files"});
    EXPECT_EQ(later.exit_code, 0u) << later.standard_output << later.standard_error;
    EXPECT_EQ(sorted_file_lines(later.standard_output), expected_file_lines(entries));
    std::vector<std::wstring> caches;
    for (const std::wstring& name : app.cache_entries()) {
      if (!name.starts_with(L"onefile_")) caches.push_back(name);
    }
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(differing_files(app.cache_root() / caches[0], entries), std::vector<std::string>{});

    EXPECT_TRUE(holds_while_a_run_waits(app, [&] { return app.cache_entries() == caches; }));
    EXPECT_EQ(records_below(app.cache_root()), std::vector<std::wstring>{});
  }
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

struct DamageCase {
  const char* label;
  void (*damage)(const fs::path& folder);
};

class DamagedCache : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedCache, IsRepairedAtTheNextStart) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult first = app.run({L"--list-files"});
  ASSERT_EQ(first.exit_code, 0u) << first.standard_output << first.standard_error;
  const fs::path folder = app.cache_root() / app.cache_entries().at(0);
  GetParam().damage(folder);
  write_file(folder / L"made_by_the_application.txt", "stays");

  const ProcessResult repaired = app.run({L"--list-files"});
  EXPECT_EQ(repaired.exit_code, 0u) << repaired.standard_output << repaired.standard_error;
  std::vector<std::string> expected = file_lines(first.standard_output);
  expected.push_back("file made_by_the_application.txt 5 " + fnv1a_hex("stays"));
  std::vector<std::string> seen = file_lines(repaired.standard_output);
  std::sort(expected.begin(), expected.end());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedCache,
    ::testing::Values(
        DamageCase{"deleted_file", [](const fs::path& folder) { fs::remove(folder / L"data.txt"); }},
        DamageCase{"shortened_file",
                   [](const fs::path& folder) { fs::resize_file(folder / L"sub" / L"deeper" / L"nested.bin", 10); }},
        DamageCase{"longer_file", [](const fs::path& folder) { write_file(folder / L"data.txt", "packed and more"); }},
        DamageCase{"deleted_folder", [](const fs::path& folder) { fs::remove_all(folder / L"sub"); }},
        DamageCase{"deleted_main_library", [](const fs::path& folder) { fs::remove(folder / L"hosted_app.dll"); }},
        DamageCase{"changed_in_place_at_the_same_size",
                   [](const fs::path& folder) { write_file(folder / L"data.txt", "PACKED"); }},
        DamageCase{"main_library_changed_in_place_at_the_same_size",
                   [](const fs::path& folder) {
                     HANDLE file = CreateFileW((folder / L"hosted_app.dll").c_str(), GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, 0, nullptr);
                     ASSERT_NE(file, INVALID_HANDLE_VALUE);
                     SetFilePointer(file, 2000, nullptr, FILE_BEGIN);
                     DWORD written = 0;
                     WriteFile(file, "\xCC\xCC", 2, &written, nullptr);
                     CloseHandle(file);
                   }}),
    [](const auto& info) { return std::string(info.param.label); });

constexpr std::uint64_t cached_file_time = 125'911'584'000'000'000ull;  // 2000-01-01 UTC

std::uint64_t write_time_of(const fs::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The attached data with its frame's checksum (the four bytes before the 13-byte trailer)
// changed: the same cache id and index, but decoding fails once the frame has been read.
std::string with_damaged_checksum(std::string attached_data) {
  attached_data[attached_data.size() - 13 - 1] ^= 0x5A;
  return attached_data;
}

// A cached file is sealed with a known write time, so that a change in place shows; an
// executable that cannot verify its repair leaves what was wrong missing, never wrong.
TEST(CachedRun, ADamagedExecutableLeavesWrongEntriesMissingAndTheNextGoodRunRepairsThem) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult first = app.run({L"--list-files"});
  ASSERT_EQ(first.exit_code, 0u) << first.standard_output << first.standard_error;
  const fs::path folder = app.cache_root() / app.cache_entries().at(0);
  for (const wchar_t* name : {L"hosted_app.dll", L"data.txt", L"sub\\deeper\\nested.bin"}) {
    EXPECT_EQ(write_time_of(folder / name), cached_file_time) << fs::path(name).string();
  }
  fs::remove(folder / L"data.txt");
  write_file(folder / L"sub" / L"deeper" / L"nested.bin", varied_bytes(70'000, 9));  // same size, other bytes
  const CachedApplication damaged(with_damaged_checksum(cached_attached_data_for(application())), L"app.exe",
                                  app.cache_root().parent_path());

  const ProcessResult failed = damaged.run({L"--list-files"});

  EXPECT_EQ(failed.exit_code, 2u) << failed.standard_output << failed.standard_error;
  EXPECT_EQ(without_carriage_returns(failed.standard_output), "Error, couldn't decode attached data.\n");
  EXPECT_FALSE(is_present(folder / L"data.txt"));
  EXPECT_FALSE(is_present(folder / L"sub" / L"deeper" / L"nested.bin")) << "a wrong entry was left in place";
  EXPECT_EQ(write_time_of(folder / L"hosted_app.dll"), cached_file_time);
  EXPECT_EQ(app.cache_entries(), std::vector<std::wstring>{folder.filename().wstring()}) << "the repair's folder stayed";

  const ProcessResult repaired = app.run({L"--list-files"});
  EXPECT_EQ(repaired.exit_code, 0u) << repaired.standard_output << repaired.standard_error;
  EXPECT_EQ(file_lines(repaired.standard_output), file_lines(first.standard_output));
  EXPECT_EQ(app.cache_entries(), std::vector<std::wstring>{folder.filename().wstring()});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// Holds the fill folder of a first run open without delete sharing, which makes the system
// refuse to rename it, as a scanner looking at a fresh file does; released once the fill's
// last file is sealed and `more` has passed, or when the run ends.
class FillHolder {
 public:
  FillHolder(const CachedApplication& app, std::wstring last_entry, std::chrono::milliseconds more)
      : thread_([this, &app, last_entry = std::move(last_entry), more] {
          const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          HANDLE held = INVALID_HANDLE_VALUE;
          while (!done_ && std::chrono::steady_clock::now() < end) {
            if (held == INVALID_HANDLE_VALUE) {
              for (const std::wstring& name : app.cache_entries()) {
                if (!name.starts_with(L"onefile_")) continue;
                fill_ = app.cache_root() / name;
                held = CreateFileW(fill_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
              }
            } else if (more.count() > 0 && write_time_of(fill_ / last_entry) == cached_file_time) {
              std::this_thread::sleep_for(more);
              break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          held_ = held != INVALID_HANDLE_VALUE;
          if (held_) CloseHandle(held);
        }) {}
  ~FillHolder() { release(); }
  FillHolder(const FillHolder&) = delete;
  FillHolder& operator=(const FillHolder&) = delete;

  // True when the fill folder was held at all.
  bool release() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return held_;
  }
  [[nodiscard]] const fs::path& fill() const { return fill_; }

 private:
  std::atomic<bool> done_{false};
  bool held_ = false;
  fs::path fill_;
  std::thread thread_;
};

TEST(CachedRun, ARenameRefusedForAMomentIsTriedAgain) {
  SacrificialArea area;
  const CachedApplication app(application("packed", 600));
  FillHolder holder(app, L"many\\file599.bin", std::chrono::milliseconds(300));
  const ProcessResult first = app.run({L"--print-dir", L"--list-files"});
  ASSERT_TRUE(holder.release()) << "the fill ended before its folder could be held";
  EXPECT_EQ(first.exit_code, 0u) << first.standard_output << first.standard_error;
  const std::vector<std::wstring> entries = app.cache_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].starts_with(L"app-"));
  EXPECT_EQ(value_of(first.standard_output, "dir"), (app.cache_root() / entries[0]).string());
  EXPECT_EQ(file_lines(first.standard_output).size(), 603u);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, ARenameRefusedForGoodRunsFromTheFillAndALaterRunFillsAgain) {
  SacrificialArea area;
  const CachedApplication app(application("packed", 600));
  FillHolder holder(app, L"many\\file599.bin", std::chrono::milliseconds(0));
  const ProcessResult first = app.run({L"--print-dir", L"--list-files"});
  ASSERT_TRUE(holder.release()) << "the fill ended before its folder could be held";
  EXPECT_EQ(first.exit_code, 0u) << first.standard_output << first.standard_error;
  EXPECT_EQ(value_of(first.standard_output, "dir"), holder.fill().string());
  EXPECT_EQ(file_lines(first.standard_output).size(), 603u);
  EXPECT_EQ(app.cache_entries(), std::vector<std::wstring>{holder.fill().filename().wstring()});

  const std::size_t files_in_fill = names_in(holder.fill() / L"many").size();
  const ProcessResult later = app.run({L"--print-dir", L"--list-files"});
  EXPECT_EQ(later.exit_code, 0u) << later.standard_output << later.standard_error;
  EXPECT_EQ(file_lines(later.standard_output), file_lines(first.standard_output));
  const std::vector<std::wstring> entries = app.cache_entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_TRUE(entries[0].starts_with(L"app-"));
  EXPECT_EQ(value_of(later.standard_output, "dir"), (app.cache_root() / entries[0]).string());
  // The fill the first run ran from is a finished run's folder now: it goes while later runs'
  // applications run (the later run may have taken it all already).
  EXPECT_TRUE(holds_while_a_run_waits(app, [&] { return app.cache_entries() == std::vector<std::wstring>{entries[0]}; }))
      << names_in(holder.fill() / L"many").size() << " of " << files_in_fill << " files of the fill left";
  EXPECT_EQ(records_below(app.cache_root()), std::vector<std::wstring>{});
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, AnotherPayloadOfTheSameNameNeverUsesThisCache) {
  SacrificialArea area;
  const CachedApplication first(application("first payload"));
  const CachedApplication second(application("second payload"), L"app.exe", first.cache_root().parent_path());
  ASSERT_EQ(first.run({L"--exit", L"0"}).exit_code, 0u);
  const ProcessResult result = second.run({L"--list-files"});
  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_NE(result.standard_output.find("file data.txt 14 " + fnv1a_hex("second payload")), std::string::npos)
      << result.standard_output;
  EXPECT_EQ(first.cache_entries().size(), 2u);
  const ProcessResult again = first.run({L"--list-files"});
  EXPECT_NE(again.standard_output.find("file data.txt 13 " + fnv1a_hex("first payload")), std::string::npos)
      << again.standard_output;
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

void set_last_write_days_ago(const fs::path& folder, int days) {
  HANDLE handle = CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= static_cast<unsigned long long>(days) * 24 * 3600 * 10'000'000ull;
  const FILETIME stamp{time.LowPart, time.HighPart};
  EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &stamp));
  CloseHandle(handle);
}

TEST(CachedRun, AFillRemovesCachesOfTheSameNameUnusedFor30DaysAndNothingElse) {
  SacrificialArea area;
  const CachedApplication app(application());
  const fs::path root = app.cache_root();
  const std::wstring old_cache = L"app-00000000000000aa";
  write_file(root / old_cache / L"hosted_app.dll", "old");
  write_file(root / old_cache / L"sub" / L"old.txt", "old");
  struct Kept {
    std::wstring name;
    int days;
  };
  const Kept kept[] = {{L"app-00000000000000bb", 29}, {L"other-00000000000000cc", 40}, {L"app-keep", 40},
                       {L"app-00000000000000DD", 40}, {L"app-0000000000000ee", 40}};
  for (const Kept& folder : kept) area.add_canary(root / folder.name / L"canary.txt");
  set_last_write_days_ago(root / old_cache, 31);
  for (const Kept& folder : kept) set_last_write_days_ago(root / folder.name, folder.days);

  const ProcessResult result = app.run({L"--exit", L"0"});

  EXPECT_EQ(result.exit_code, 0u) << result.standard_output << result.standard_error;
  EXPECT_FALSE(is_present(root / old_cache));
  EXPECT_EQ(app.cache_entries().size(), std::size(kept) + 1);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// An older build's application still runs from a cache folder that looks unused; newer builds
// fill and prune around it, and it is removed only once that run has ended.
TEST(CachedRun, PruningLeavesACacheFolderInUse) {
  SacrificialArea area;
  const CachedApplication older(application("older build"));
  const fs::path root = older.cache_root();
  const fs::path started = root.parent_path() / L"started.txt";
  ProcessResult long_run;
  std::thread running([&] {
    long_run = older.run({L"--write-parent", L"\"" + started.wstring() + L"\"", L"--sleep", L"4000", L"--list-files"});
  });
  for (int attempt = 0; attempt < 400 && !is_present(started); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_TRUE(is_present(started));
  const std::wstring older_folder = older.cache_entries().at(0);
  set_last_write_days_ago(root / older_folder, 31);

  const CachedApplication newer(application("newer build"), L"app.exe", root.parent_path());
  const ProcessResult fill = newer.run({L"--exit", L"0"});
  EXPECT_EQ(fill.exit_code, 0u) << fill.standard_output << fill.standard_error;
  EXPECT_TRUE(is_present(root / older_folder / L"hosted_app.dll")) << "pruned while in use";
  running.join();
  EXPECT_EQ(long_run.exit_code, 0u) << long_run.standard_output << long_run.standard_error;
  EXPECT_EQ(file_lines(long_run.standard_output).size(), 3u) << long_run.standard_output;

  set_last_write_days_ago(root / older_folder, 31);
  const CachedApplication newest(application("newest build"), L"app.exe", root.parent_path());
  EXPECT_EQ(newest.run({L"--exit", L"0"}).exit_code, 0u);
  EXPECT_FALSE(is_present(root / older_folder)) << "an unused folder whose run has ended stays";
  EXPECT_EQ(older.cache_entries().size(), 2u);
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, UseKeepsACacheFromCountingAsUnused) {
  SacrificialArea area;
  const CachedApplication app(application());
  ASSERT_EQ(app.run({L"--exit", L"0"}).exit_code, 0u);
  const fs::path folder = app.cache_root() / app.cache_entries().at(0);
  set_last_write_days_ago(folder, 31);
  ASSERT_EQ(app.run({L"--exit", L"0"}).exit_code, 0u);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data));
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto as_count = [](const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  EXPECT_LT(as_count(now) - as_count(data.ftLastWriteTime), 3600ull * 10'000'000) << "the run did not mark its use";
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, ALinkAtTheCacheNameIsRefusedAndItsTargetUntouched) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult first = app.run({L"--exit", L"0"});
  ASSERT_EQ(first.exit_code, 0u);
  const std::wstring name = app.cache_entries().at(0);
  fs::remove_all(app.cache_root() / name);
  area.add_canary(area.outside() / L"data.txt");
  const UnixLink link((app.cache_root() / name).wstring(), area.outside().wstring());
  ASSERT_TRUE(link.made());

  const ProcessResult refused = app.run({L"--exit", L"0"});

  EXPECT_EQ(refused.exit_code, 2u) << refused.standard_output << refused.standard_error;
  EXPECT_EQ(without_carriage_returns(refused.standard_output), "Error, the cache folder is a link or holds one.\n");
  EXPECT_FALSE(is_present(area.outside() / L"hosted_app.dll"));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

TEST(CachedRun, ALinkInsideTheCacheIsRefusedAndItsTargetUntouched) {
  SacrificialArea area;
  const CachedApplication app(application());
  ASSERT_EQ(app.run({L"--exit", L"0"}).exit_code, 0u);
  const fs::path folder = app.cache_root() / app.cache_entries().at(0);
  fs::remove_all(folder / L"sub");
  area.add_canary(area.outside() / L"deeper" / L"nested.bin");
  const UnixLink link((folder / L"sub").wstring(), area.outside().wstring());
  ASSERT_TRUE(link.made());

  const ProcessResult refused = app.run({L"--exit", L"0"});

  EXPECT_EQ(refused.exit_code, 2u) << refused.standard_output << refused.standard_error;
  EXPECT_EQ(without_carriage_returns(refused.standard_output), "Error, the cache folder is a link or holds one.\n");
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

// A console event ends the run as usual, and the cache, which outlasts runs, stays whole.
TEST(CachedRun, CtrlCEndsTheRunAndKeepsTheCache) {
  SacrificialArea area;
  const CachedApplication app(application());
  const ProcessResult first = app.run({L"--list-files"});
  ASSERT_EQ(first.exit_code, 0u) << first.standard_output << first.standard_error;
  const fs::path folder = app.cache_root() / app.cache_entries().at(0);
  const auto ready_file = app.onefile().temp_directory() / L"ready.txt";

  const InterruptedRun interrupted = run_with_ctrl_c(
      [&] {
        ProcessOptions options = app.options();
        options.timeout_ms = 25'000;
        return app.onefile().run({L"--attach-console", std::to_wstring(GetCurrentProcessId()), L"--write-parent",
                                  ready_file.wstring(), L"--sleep", L"30000"},
                                 options);
      },
      ready_file);
  const ProcessResult& result = interrupted.result;

  EXPECT_TRUE(interrupted.ready);
  EXPECT_TRUE(interrupted.generated) << interrupted.generate_error;
  EXPECT_FALSE(result.timed_out) << result.standard_output << result.standard_error;
  EXPECT_TRUE(result.exit_code == 0xC000013Au || result.exit_code == 0u) << result.exit_code;
  EXPECT_EQ(app.cache_entries(), std::vector<std::wstring>{folder.filename().wstring()});
  EXPECT_TRUE(is_present(folder / L"hosted_app.dll") && is_present(folder / L"sub" / L"deeper" / L"nested.bin"));
  EXPECT_EQ(area.harmed_canaries(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace osvari::testing
