#include "tests/benchmarks/leftover_sweep.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"

#include "paths/extended_length_path.h"
#include "tests/benchmarks/machine_load.h"
#include "tests/benchmarks/plain_baselines.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/leftovers.h"
#include "tests/support/onefile_runner.h"
#include "tests/support/temporary_directory.h"

namespace osvari::benchmark {
namespace {

using testing::TemporaryDirectory;

struct Spread {
  double median = 0;
  double low = 0;
  double high = 0;
};

Spread spread_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

void print_spread(const char* what, const std::vector<double>& values) {
  const Spread s = spread_of(values);
  std::printf("  %-46s median %7.3f s   min %7.3f   max %7.3f   (%zu runs)\n", what, s.median, s.low, s.high,
              values.size());
}

// A copy of `source` with `attached_data` as resource 27.
void make_copy_of(const std::wstring& source, const std::wstring& target, const std::string& attached_data) {
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    std::fprintf(stderr, "cannot copy %ls: %lu\n", source.c_str(), GetLastError());
    std::exit(1);
  }
  HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
  if (update == nullptr ||
      !UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(27), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                       const_cast<char*>(attached_data.data()), static_cast<DWORD>(attached_data.size())) ||
      !EndUpdateResourceW(update, FALSE)) {
    std::fprintf(stderr, "cannot attach data to %ls: %lu\n", target.c_str(), GetLastError());
    std::exit(1);
  }
}

struct Started {
  PROCESS_INFORMATION process{};
  std::uint64_t start = 0;
};

Started start(const std::wstring& program, std::wstring arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  Started started;
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  started.start = system_time_now();
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started.process)) {
    std::fprintf(stderr, "cannot start %ls: %lu\n", program.c_str(), GetLastError());
    std::exit(1);
  }
  return started;
}

// Waits for the run; its whole time in seconds.
double finish(Started& started) {
  WaitForSingleObject(started.process.hProcess, INFINITE);
  const std::uint64_t end = system_time_now();
  DWORD exit_code = 1;
  GetExitCodeProcess(started.process.hProcess, &exit_code);
  CloseHandle(started.process.hThread);
  CloseHandle(started.process.hProcess);
  if (exit_code != 0) {
    std::fprintf(stderr, "a run ended with %lu\n", exit_code);
    std::exit(1);
  }
  return seconds_between(started.start, end);
}

double whole_run(const std::wstring& launcher) {
  Started started = start(launcher, L"--exit 0");
  return finish(started);
}

// A name a killed run of this launcher could have left: a process id that has ended, and a
// time stamp after that process's start.
std::wstring leftover_name(const std::wstring& launcher) {
  Started ended = start(launcher, L"--exit 0");
  const DWORD id = ended.process.dwProcessId;
  (void)finish(ended);
  return L"onefile_" + std::to_wstring(id) + L"_" + std::to_wstring(system_time_now());
}

bool is_present(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

void measure_leftover_sweep(int runs, const std::wstring& baseline_launcher, bool paired_only) {
  std::printf("Leftovers of killed runs\n");
  note_load_at_start();
  TemporaryDirectory root;
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  const std::string attached_data =
      testing::attached_data_for({{u"hosted_app.dll", testing::built_library(L"hosted_app.dll")}, {u"data.txt", "x"}});
  const std::wstring launcher = root / L"ours.exe";
  make_copy_of(testing::built_launcher_path(), launcher, attached_data);
  const std::wstring release = root / L"release.txt";

  // From the start of a later run that waits until it is released, to the leftover gone.
  for (const int files : {2'000, 20'000}) {
    if (paired_only) break;
    std::vector<double> gone_after;
    for (int run = 0; run < runs; ++run) {
      const std::wstring leftover = temp + L"\\" + leftover_name(launcher);
      testing::make_recorded_leftover(leftover, files);
      DeleteFileW(release.c_str());
      Started waiting = start(launcher, L"--wait-for \"" + release + L"\"");
      while (is_present(leftover)) Sleep(10);
      gone_after.push_back(seconds_between(waiting.start, system_time_now()));
      std::ofstream(release.c_str()) << "go";
      (void)finish(waiting);
    }
    const std::string what = "a " + std::to_string(files) + "-file leftover gone after";
    print_spread(what.c_str(), gone_after);
  }

  // A run that ends at once, with and without a large leftover to sweep: what stopping the sweep
  // adds to its end. In turn, each first every other round.
  if (!paired_only) {
    const std::wstring leftover = temp + L"\\" + leftover_name(launcher);
    testing::make_recorded_leftover(leftover, 20'000);
    const std::size_t before = testing::files_below(leftover);
    std::vector<double> with_leftover, without;
    const std::wstring other_temp = root / L"empty_temp";
    CreateDirectoryW(other_temp.c_str(), nullptr);
    const auto run_in = [&](const std::wstring& folder) {
      SetEnvironmentVariableW(L"TEMP", folder.c_str());
      SetEnvironmentVariableW(L"TMP", folder.c_str());
      return whole_run(launcher);
    };
    for (int run = 0; run < runs; ++run) {
      if (run % 2 == 1) without.push_back(run_in(other_temp));
      with_leftover.push_back(run_in(temp));
      if (run % 2 == 0) without.push_back(run_in(other_temp));
    }
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    print_spread("run ending at once, 20,000-file leftover", with_leftover);
    print_spread("run ending at once, nothing to sweep", without);
    std::printf("  files of the leftover taken by those %d runs: %zu of %zu\n", runs,
                before - testing::files_below(leftover), before);
  }

  if (!baseline_launcher.empty()) {
    const std::wstring baseline = root / L"baseline.exe";
    make_copy_of(baseline_launcher, baseline, attached_data);
    std::vector<double> ours, theirs;
    for (int run = 0; run < runs; ++run) {
      if (run % 2 == 1) theirs.push_back(whole_run(baseline));
      ours.push_back(whole_run(launcher));
      if (run % 2 == 0) theirs.push_back(whole_run(baseline));
    }
    print_spread("whole run, nothing left over, this build", ours);
    print_spread("whole run, nothing left over, baseline", theirs);
    std::vector<double> differences;
    for (std::size_t i = 0; i < ours.size(); ++i) differences.push_back(ours[i] - theirs[i]);
    print_spread("paired difference (this build - baseline)", differences);
  }
  note_load_at_end();
}

}  // namespace osvari::benchmark
