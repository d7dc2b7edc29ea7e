// Prints where the time of a onefile run goes, phase by phase, beside the same work done by
// plain code in the same run, and the launcher's peak memory.
//   onefile_benchmark [runs] [large|small]   `runs` runs each (default 5) of both payloads, or of one
//   onefile_benchmark [runs] checksum        the large payload with and without its frame checksum
//   onefile_benchmark [runs] progress        a windowed exe with its progress window shown and with
//                                            --no-progress-window (needs a display)
//   onefile_benchmark [runs] cache           first and later runs from the extraction cache
//   onefile_benchmark [runs] check           the cache's start-up check of 20,000 entries beside
//                                            the listings it makes, made alone
//   onefile_benchmark [runs] files           one file's creation and removal, on one thread and two
//   onefile_benchmark [runs] writers [large|small]  the launcher's unpack code with 1 to 4 writers,
//                                            both payloads or one
//   onefile_benchmark [runs] leftovers [EXE] the sweep of killed runs' leftovers; EXE, a launcher
//                                            of another build, is run in turn with this one
//   onefile_benchmark [runs] paired EXE      only the whole run of this build's launcher and EXE
//   onefile_benchmark --host DLL ARGS...     (internal) loads DLL and calls its run_code
//   onefile_benchmark --time-parent-check PID FILE  (internal) times the child's check of its parent
// Phases are split at the same events for both: the process that runs the application is
// created, run_code is entered, the whole run has ended.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
// After <windows.h>:
#include <psapi.h>

#include "launcher/cache/cache_folder.h"
#include "launcher/cache/cached_files.h"
#include "paths/extended_length_path.h"
#include "payload/application_kind.h"
#include "payload/unpack_writer.h"
#include "payload/window_options.h"
#include "platform/files.h"
#include "tests/benchmarks/bare_window.h"
#include "tests/benchmarks/in_process_unpack.h"
#include "tests/benchmarks/leftover_sweep.h"
#include "tests/benchmarks/machine_load.h"
#include "tests/benchmarks/parent_check.h"
#include "tests/benchmarks/plain_baselines.h"
#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/attached_data/cache_index_writer.h"

using namespace osvari::testing;
using namespace osvari::benchmark;

namespace {

struct Payload {
  std::string title;
  std::size_t files;
  std::string attached_data;
  std::size_t decoded_bytes;
};

// Bytes with two bits of entropy each: they compress about four to one, like real applications.
std::string compressible_bytes(std::size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>('a' + (state >> 30));
  }
  return bytes;
}

// `files` entries: the main library, then (when there are more) one of `largest` bytes and the
// rest in equal parts of `total`, spread over `folders`. With `cache`, packed for the
// extraction cache as osvari-pack --cache does. With `program`, the same application as an
// ordinary program comes first instead of the main library.
Payload make_payload(std::string title, std::size_t files, std::size_t total, std::size_t largest,
                     std::size_t folders, bool checksum = true, bool cache = false, bool program = false) {
  const std::string library = built_library(program ? L"hosted_program.exe" : L"hosted_app.dll");
  std::string stream = program ? osvari::program_kind_frame() : std::string();
  osvari::pack::FrameCompressor compressor({.level = 3, .checksum = checksum},
                                           [&](std::string_view chunk) { stream.append(chunk); });
  std::string prefix;
  std::size_t decoded = 0;
  std::vector<osvari::pack::IndexedEntry> index;
  auto add = [&](const std::string& name, const std::string& contents) {
    prefix.clear();
    const std::u16string wide(name.begin(), name.end());
    osvari::pack::append_entry_prefix(prefix, wide, contents.size());
    compressor.write(prefix);
    compressor.write(contents);
    decoded += contents.size();
    index.push_back({wide, contents.size()});
  };
  add(program ? "hosted_program.exe" : "hosted_app.dll", library);
  if (files > 1) {
    add("largest.bin", compressible_bytes(largest, 7));
    const std::size_t small = (total - largest - library.size()) / (files - 2);
    for (std::size_t i = 0; i + 2 < files; ++i) {
      add("dir" + std::to_string(i % folders) + "\\file" + std::to_string(i) + ".dat",
          compressible_bytes(small, static_cast<unsigned>(i)));
    }
  }
  prefix.clear();
  osvari::pack::append_terminator(prefix);
  compressor.write(prefix);
  compressor.finish();
  const std::string cache_index =
      cache ? osvari::pack::cache_index_frame(osvari::pack::attached_data_id(stream), index) : std::string();
  return {std::move(title), files, osvari::pack::wrap_attached_data(cache_index + stream), decoded};
}

Payload main_library_alone(bool cache) { return make_payload("", 1, 0, 0, 1, true, cache); }

struct Stamp {
  std::uint64_t created = 0;
  std::uint64_t entered = 0;
};

Stamp read_stamp(const std::wstring& file) {
  Stamp stamp;
  std::ifstream in{std::filesystem::path(file)};
  std::string created, entered;
  in >> created >> entered;
  if (created.starts_with("created=") && entered.starts_with("entered=")) {
    stamp.created = std::stoull(created.substr(8));
    stamp.entered = std::stoull(entered.substr(8));
  }
  if (stamp.created == 0) {
    std::fprintf(stderr, "the application left no time stamps\n");
    std::exit(1);
  }
  return stamp;
}

struct Run {
  std::uint64_t start = 0;
  Stamp stamp;
  std::uint64_t end = 0;
  std::size_t peak_working_set = 0;
};

// Starts `program` and waits, sampling its memory while it runs (Wine keeps no counters for a
// process that has ended).
Run run_process_timed(const std::wstring& program, std::wstring command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  Run run;
  // Wine now and then refuses a start with ERROR_INTERNAL_ERROR (1359) that succeeds when asked
  // again; the run is then timed from the start that worked.
  bool started = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    run.start = system_time_now();
    started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process) != FALSE;
    error = started ? 0 : GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
    std::printf("  (Wine refused to start %ls with error 1359; asked again)\n", program.c_str());
  }
  if (!started) {
    std::fprintf(stderr, "cannot start %ls: %lu\n", program.c_str(), error);
    std::exit(1);
  }
  PROCESS_MEMORY_COUNTERS counters{};
  do {
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      run.peak_working_set = std::max(run.peak_working_set, counters.PeakWorkingSetSize);
    }
  } while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT);
  run.end = system_time_now();
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exit_code != 0) {
    std::fprintf(stderr, "%ls ended with %lu\n", program.c_str(), exit_code);
    std::exit(1);
  }
  return run;
}

std::wstring own_path() {
  wchar_t path[32768];
  GetModuleFileNameW(nullptr, path, 32768);
  return path;
}

Run launcher_run(const std::wstring& launcher, const std::wstring& stamp_file) {
  Run run = run_process_timed(launcher, L"\"" + launcher + L"\" --stamp \"" + stamp_file + L"\" --exit 0");
  run.stamp = read_stamp(stamp_file);
  return run;
}

// The plain way: decode and write, start a process that loads the library, remove the tree.
Run plain_run(const Payload& payload, const std::wstring& directory, const std::wstring& stamp_file) {
  Run run;
  run.start = system_time_now();
  plain_unpack(payload.attached_data, directory);
  const std::wstring self = own_path();
  run_process_timed(self, L"\"" + self + L"\" --host \"" + directory +
                                               L"\\hosted_app.dll\" --stamp \"" + stamp_file + L"\" --exit 0");
  run.stamp = read_stamp(stamp_file);
  plain_remove(directory);
  run.end = system_time_now();
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A median and the middle half of the values around it.
struct MiddleHalf {
  double low = 0;
  double median = 0;
  double high = 0;
};

MiddleHalf middle_half(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t quarter = values.size() / 4;
  return {values[quarter], median(values), values[values.size() - 1 - quarter]};
}

// "ratio 0.93", or a dash while the machine's load makes ratios meaningless.
std::string ratio_text(double ours, double theirs) {
  char text[32];
  if (!ratios_printed() || theirs <= 0) return "ratio     -";
  std::snprintf(text, sizeof text, "ratio %5.2f", ours / theirs);
  return text;
}

std::string every_run(const std::vector<double>& values) {
  std::string text;
  char value[24];
  for (const double v : values) {
    std::snprintf(value, sizeof value, " %.3f", v);
    text += value;
  }
  return text;
}

// Each side's median and the spread of its runs, then every run's value.
void print_row(const char* phase, const std::vector<double>& launcher, const std::vector<double>& plain) {
  const double ours = median(launcher);
  const double theirs = median(plain);
  const auto [ours_low, ours_high] = std::minmax_element(launcher.begin(), launcher.end());
  const auto [plain_low, plain_high] = std::minmax_element(plain.begin(), plain.end());
  std::printf("  %-34s %8.3f s (%.3f-%.3f)   plain %8.3f s (%.3f-%.3f)   %s\n", phase, ours, *ours_low,
              *ours_high, theirs, *plain_low, *plain_high, ratio_text(ours, theirs).c_str());
  std::printf("  %-34s  runs:%s   plain:%s\n", "", every_run(launcher).c_str(), every_run(plain).c_str());
}

bool has_unpack_folder(const std::wstring& temp) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((temp + L"\\onefile_*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// The launcher's TEMP for the length of one measurement: the runs' own folder, so that they find
// no other unpack folders; the benchmark's own temporary folders stay where they were.
class TemporaryTempVariables {
 public:
  explicit TemporaryTempVariables(const std::wstring& temp) {
    wchar_t saved[32768] = {};
    GetEnvironmentVariableW(L"TEMP", saved, 32768);
    saved_ = saved;
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"TMP", temp.c_str());
  }
  ~TemporaryTempVariables() {
    SetEnvironmentVariableW(L"TEMP", saved_.c_str());
    SetEnvironmentVariableW(L"TMP", saved_.c_str());
  }

 private:
  std::wstring saved_;
};

// The child's check of its parent alone, each in a fresh process checking this one, as the
// launcher's child checks the launcher that started it.
void print_parent_check_cost(const std::wstring& result_file, int count) {
  const std::wstring self = own_path();
  const std::wstring parent_id = std::to_wstring(GetCurrentProcessId());
  std::vector<double> seconds;
  for (int i = 0; i < count; ++i) {
    DeleteFileW(result_file.c_str());  // a run that writes nothing must not count the one before
    run_process_timed(self, L"\"" + self + L"\" --time-parent-check " + parent_id + L" \"" + result_file + L"\"");
    if (const std::optional<double> taken = read_parent_check_seconds(result_file)) seconds.push_back(*taken);
  }
  if (seconds.empty()) return;
  const MiddleHalf half = middle_half(seconds);
  std::printf("  %-34s %8.2f ms (median of %zu, each in a fresh process; middle half %.2f-%.2f ms)\n",
              "of it, the parent check alone", half.median * 1000, seconds.size(), half.low * 1000, half.high * 1000);
  std::printf("  %-34s  (the child opens its parent, reads its module path, resolves both executables' paths)\n", "");
}

void measure(const Payload& payload, int runs) {
  TemporaryDirectory root;
  const std::wstring launcher = root / L"benchmark.exe";
  make_launcher_copy(launcher, payload.attached_data);
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  const TemporaryTempVariables temp_variables(temp);
  const std::wstring stamp_file = root / L"stamp.txt";
  const std::wstring plain_directory = root / L"plain";

  std::printf("%s: %zu files, %.1f MiB decoded, %.1f MiB attached; median of %d runs\n", payload.title.c_str(),
              payload.files, payload.decoded_bytes / 1048576.0, payload.attached_data.size() / 1048576.0, runs);
  note_load_at_start();
  std::vector<double> unpack[2], start[2], removal[2], whole[2], decoding;
  std::vector<TimedUnpack> in_process;
  std::size_t peak = 0;
  for (int i = 0; i < runs; ++i) {
    // Each goes first every other round: a run pays for the disk writes the one before it left.
    Run ours, plain;
    if (i % 2 == 1) plain = plain_run(payload, plain_directory, stamp_file);
    ours = launcher_run(launcher, stamp_file);
    if (has_unpack_folder(temp)) std::printf("  run %d left its unpack folder behind\n", i + 1);
    if (i % 2 == 0) plain = plain_run(payload, plain_directory, stamp_file);
    const std::uint64_t decode_start = system_time_now();
    decode_only(payload.attached_data);
    decoding.push_back(seconds_between(decode_start, system_time_now()));
    const std::wstring in_process_directory = root / (L"in_process" + std::to_wstring(i));
    in_process.push_back(unpack_in_process(payload.attached_data, in_process_directory, osvari::unpack_writer_count));
    plain_remove(in_process_directory);
    peak = std::max(peak, ours.peak_working_set);
    int k = 0;
    for (const Run* run : {&ours, &plain}) {
      unpack[k].push_back(seconds_between(run->start, run->stamp.created));
      start[k].push_back(seconds_between(run->stamp.created, run->stamp.entered));
      removal[k].push_back(seconds_between(run->stamp.entered, run->end));
      whole[k].push_back(seconds_between(run->start, run->end));
      ++k;
    }
  }
  print_row("unpack (start to app process)", unpack[0], unpack[1]);
  print_row("child start (to run_code)", start[0], start[1]);
  print_parent_check_cost(root / L"parent_check.txt", 4 * runs);
  print_row("removal (run_code to end)", removal[0], removal[1]);
  print_row("whole run", whole[0], whole[1]);
  std::printf("  launcher peak working set %.1f MiB\n", peak / 1048576.0);
  // The plain loop does one after the other; the launcher decodes on one thread while its writers
  // create and write the files on several.
  const double decode = median(decoding);
  const double files = std::max(0.0, median(unpack[1]) - decode);
  std::printf("  where the plain unpack's time goes: decoding alone %.3f s; creating and writing the files on\n"
              "  one thread %.3f s (plain unpack minus decoding, %.3f ms per file: CreateFileW, WriteFile,\n"
              "  CloseHandle under Wine), which the launcher spreads over %zu writers while it decodes; the\n"
              "  launcher's removal %.3f ms per file\n",
              decode, files, 1000.0 * files / payload.files, osvari::unpack_writer_count,
              1000.0 * median(removal[0]) / payload.files);
  std::vector<double> in_process_seconds;
  for (const TimedUnpack& run : in_process) in_process_seconds.push_back(run.seconds);
  print_row("launcher's unpack code alone", in_process_seconds, unpack[1]);
  print_where_the_time_goes(median_run(in_process));
  note_load_at_end();
}

// The launcher's unpack code in this process with one to four writers, beside the plain serial
// unpack, each round running every one in turn so that load changes fall on all of them.
void measure_writers(const Payload& payload, int runs) {
  constexpr std::size_t most_writers = 4;
  TemporaryDirectory root;
  std::printf("%s, the launcher's unpack code with 1 to %zu writers; median of %d runs\n", payload.title.c_str(),
              most_writers, runs);
  note_load_at_start();
  std::vector<double> plain;
  std::vector<TimedUnpack> unpacks[most_writers];
  for (int i = 0; i < runs; ++i) {
    const std::wstring plain_directory = root / (L"plain" + std::to_wstring(i));
    const std::uint64_t start = system_time_now();
    plain_unpack(payload.attached_data, plain_directory);
    plain.push_back(seconds_between(start, system_time_now()));
    plain_remove(plain_directory);
    for (std::size_t writers = 1; writers <= most_writers; ++writers) {
      const std::wstring directory = root / (L"w" + std::to_wstring(writers) + L"_" + std::to_wstring(i));
      unpacks[writers - 1].push_back(unpack_in_process(payload.attached_data, directory, writers));
      plain_remove(directory);
    }
  }
  for (std::size_t writers = 1; writers <= most_writers; ++writers) {
    std::vector<double> seconds;
    for (const TimedUnpack& run : unpacks[writers - 1]) seconds.push_back(run.seconds);
    const std::string phase = "unpack, " + std::to_string(writers) + (writers == 1 ? " writer" : " writers");
    print_row(phase.c_str(), seconds, plain);
  }
  for (const std::vector<TimedUnpack>& runs_of_one : unpacks) print_where_the_time_goes(median_run(runs_of_one));
  note_load_at_end();
}

// The whole run of the launcher on the same entries with and without the frame's checksum,
// which the launcher verifies before the application starts: the plain frame is the baseline.
// Runs alternate and swap their order each round: a run pays for the disk writes that the one
// before it left behind, and load changes fall on both.
void measure_checksum_cost(int runs) {
  note_load_at_start();
  TemporaryDirectory root;
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  const TemporaryTempVariables temp_variables(temp);
  const std::wstring stamp_file = root / L"stamp.txt";
  std::wstring launchers[2];
  std::size_t sizes[2] = {};
  for (const bool checksum : {false, true}) {
    const Payload payload = make_payload("", 1900, 326u << 20, 163u << 20, 40, checksum);
    sizes[checksum] = payload.attached_data.size();
    launchers[checksum] = root / (checksum ? L"with_checksum.exe" : L"without_checksum.exe");
    make_launcher_copy(launchers[checksum], payload.attached_data);
  }
  std::vector<double> whole[2];
  for (int i = 0; i < runs; ++i) {
    for (const bool second : {false, true}) {
      const bool checksum = second != (i % 2 == 1);
      const Run run = launcher_run(launchers[checksum], stamp_file);
      whole[checksum].push_back(seconds_between(run.start, run.end));
    }
  }
  std::printf("1,900 files, 326 MiB: %.1f MiB attached with checksum, %.1f MiB without; median of %d runs\n",
              sizes[1] / 1048576.0, sizes[0] / 1048576.0, runs);
  print_row("whole run with checksum", whole[1], whole[0]);
  note_load_at_end();
}

// Adds what a windowed executable shows a person (resource 28) to the copy at `launcher`.
void add_window_options(const std::wstring& launcher, const osvari::WindowOptions& options) {
  const std::string record = osvari::window_options_record(options);
  HANDLE update = BeginUpdateResourceW(launcher.c_str(), FALSE);
  if (update == nullptr ||
      !UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(osvari::window_options_resource_id),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<char*>(record.data()),
                       static_cast<DWORD>(record.size())) ||
      !EndUpdateResourceW(update, FALSE)) {
    std::fprintf(stderr, "cannot add the window options to %ls: %lu\n", launcher.c_str(), GetLastError());
    std::exit(1);
  }
}

// The median of paired runs' differences (in seconds) and the middle half of them, in ms.
void print_pair_differences(const char* what, const char* sides, const std::vector<double>& differences) {
  const MiddleHalf half = middle_half(differences);
  std::printf("  %-36s %+.2f ms (median of %zu pairs' differences, %s; middle half %+.2f to %+.2f ms)\n", what,
              half.median * 1000, differences.size(), sides, half.low * 1000, half.high * 1000);
}

// What the system alone asks for a process's first window like the progress window: a process
// that makes one beside a process that makes none, in pairs of alternating order.
void measure_bare_window(int pairs) {
  const std::wstring self = own_path();
  std::vector<double> seconds[2];
  std::vector<double> differences;
  for (int i = 0; i < pairs; ++i) {
    double pair[2] = {};
    for (const bool second : {false, true}) {
      const bool window = second != (i % 2 == 1);
      const Run run = run_process_timed(self, L"\"" + self + (window ? L"\" --bare-window" : L"\" --no-window"));
      pair[window] = seconds_between(run.start, run.end);
      seconds[window].push_back(pair[window]);
    }
    differences.push_back(pair[1] - pair[0]);
  }
  print_pair_differences("the system's own first window", "a bare window with a bar and a button minus none",
                         differences);
  std::printf("  %-36s  window:%s   none:%s\n", "", every_run(seconds[1]).c_str(), every_run(seconds[0]).c_str());
}

// The whole run of a windowed executable whose progress window shows (a display is needed: the
// script starts an Xvfb) beside the same executable packed with --no-progress-window, in pairs
// whose order alternates; for the large payload, and for the main library alone, which ends
// before the window's 0.5 s and so measures what a run that never shows it pays.
void measure_progress_window_cost(int runs) {
  note_load_at_start();
  TemporaryDirectory root;
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  const TemporaryTempVariables temp_variables(temp);
  const std::wstring stamp_file = root / L"stamp.txt";
  wchar_t display[256] = {};
  GetEnvironmentVariableW(L"DISPLAY", display, 256);
  std::printf("Progress window: whole run with the window shown, and with --no-progress-window (\"off\"), in pairs "
              "of alternating order; DISPLAY=%ls\n",
              display);
  for (const bool large : {true, false}) {
    const Payload payload = large ? make_payload("", 1900, 326u << 20, 163u << 20, 40) : main_library_alone(false);
    std::wstring launchers[2];
    for (const bool window : {false, true}) {
      launchers[window] = root / (window ? L"with_window.exe" : L"without_window.exe");
      make_launcher_copy(launchers[window], payload.attached_data);
      add_window_options(launchers[window], {.error_dialog = true,
                                             .progress_window = window,
                                             .unpacked_bytes = payload.decoded_bytes});
    }
    // A run that never shows the window lasts 0.2 s and varies by more than the cost sought: many
    // pairs, and the median of their differences beside that of the same exe under two names,
    // which shows how far from zero the noise alone puts such a median.
    const int pairs = large ? runs : runs * 20;
    const std::wstring same_again = root / L"without_window_again.exe";
    if (!large) CopyFileW(launchers[0].c_str(), same_again.c_str(), FALSE);
    std::vector<double> whole[2];
    std::vector<double> ratios;
    std::vector<double> differences;
    std::vector<double> same_differences;
    for (int i = 0; i < pairs; ++i) {
      if (!large) {
        const bool again_first = i % 2 == 0;
        const Run first = launcher_run(again_first ? same_again : launchers[0], stamp_file);
        const Run second = launcher_run(again_first ? launchers[0] : same_again, stamp_file);
        const double difference =
            seconds_between(first.start, first.end) - seconds_between(second.start, second.end);
        same_differences.push_back(again_first ? difference : -difference);
      }
      double seconds[2] = {};
      for (const bool second : {false, true}) {
        const bool window = second != (i % 2 == 1);
        const Run run = launcher_run(launchers[window], stamp_file);
        seconds[window] = seconds_between(run.start, run.end);
        whole[window].push_back(seconds[window]);
      }
      ratios.push_back(seconds[1] / seconds[0]);
      differences.push_back(seconds[1] - seconds[0]);
    }
    const auto [shown_low, shown_high] = std::minmax_element(whole[1].begin(), whole[1].end());
    const auto [off_low, off_high] = std::minmax_element(whole[0].begin(), whole[0].end());
    const auto [ratio_low, ratio_high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("  %-36s shown %7.3f s (%.3f-%.3f)   off %7.3f s (%.3f-%.3f)   %s", 
                large ? "1,900 files, 326 MiB, window shown" : "main library alone, never shown", median(whole[1]),
                *shown_low, *shown_high, median(whole[0]), *off_low, *off_high,
                ratio_text(median(whole[1]), median(whole[0])).c_str());
    if (ratios_printed()) std::printf(", per pair %.3f (%.3f-%.3f)", median(ratios), *ratio_low, *ratio_high);
    std::printf("\n  %-36s  shown:%s   off:%s\n", "", every_run(whole[1]).c_str(), every_run(whole[0]).c_str());
    if (!large) {
      print_pair_differences("cost of a window never shown", "shown minus off", differences);
      print_pair_differences("the same exe under two names", "the noise's own", same_differences);
    }
  }
  measure_bare_window(runs * 4);
  note_load_at_end();
}

// An environment variable set for the length of one measurement.
class TemporaryVariable {
 public:
  TemporaryVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t saved[32768] = {};
    had_value_ = GetEnvironmentVariableW(name, saved, 32768) > 0;
    saved_ = saved;
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~TemporaryVariable() { SetEnvironmentVariableW(name_, had_value_ ? saved_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::wstring saved_;
  bool had_value_ = false;
};

// The extraction cache: a first run (an empty cache, so it fills), a later run (it checks the
// filled folder) and, as the floor, the start of an executable carrying the main library alone
// in a fresh folder as usual. The cached main library alone shows what the check itself costs.
// Each round runs all four in turn, so load changes fall on every one.
void measure_cache(const Payload& payload, int runs) {
  note_load_at_start();
  TemporaryDirectory root;
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  const TemporaryTempVariables temp_variables(temp);
  const std::wstring stamp_file = root / L"stamp.txt";
  const std::wstring cached = root / L"cached.exe";
  const std::wstring alone = root / L"alone.exe";
  const std::wstring cached_alone = root / L"cached_alone.exe";
  make_launcher_copy(cached, payload.attached_data);
  make_launcher_copy(alone, main_library_alone(false).attached_data);
  make_launcher_copy(cached_alone, main_library_alone(true).attached_data);

  std::vector<double> first, later, floor, later_alone;
  for (int i = 0; i < runs; ++i) {
    const std::wstring local = root / (L"local" + std::to_wstring(i));
    CreateDirectoryW(local.c_str(), nullptr);
    const TemporaryVariable local_variable(L"LOCALAPPDATA", local);
    const auto whole = [&](const std::wstring& launcher) {
      const Run run = launcher_run(launcher, stamp_file);
      return seconds_between(run.start, run.end);
    };
    first.push_back(whole(cached));
    later.push_back(whole(cached));
    (void)whole(cached_alone);
    later_alone.push_back(whole(cached_alone));
    floor.push_back(whole(alone));
  }
  std::printf("%s, packed for the cache: %.1f MiB attached; median of %d runs\n", payload.title.c_str(),
              payload.attached_data.size() / 1048576.0, runs);
  std::printf("  baseline: an executable carrying the main library alone, run as usual\n");
  print_row("first run (fills the cache)", first, floor);
  print_row("later run (checks the cache)", later, floor);
  print_row("later run, main library alone", later_alone, floor);
  std::printf("  check of %zu entries: %.3f s\n", payload.files, median(later) - median(later_alone));
  note_load_at_end();
}

// The start-up check of a filled cache folder of 20,000 entries (in one folder, then spread
// over 100), beside the same listings made alone; and the sealing a fill does (cached file time
// and a flush per file), timed on its own over the same files.
void measure_check(int runs) {
  note_load_at_start();
  constexpr std::size_t entry_count = 20'000;
  for (const std::size_t folder_count : {std::size_t{1}, std::size_t{100}}) {
    TemporaryDirectory root;
    const std::wstring folder = osvari::extended_length_path(root / L"cache");
    CreateDirectoryW(folder.c_str(), nullptr);
    osvari::CacheIndex index{L"0123456789abcdef", {}};
    for (std::size_t f = 0; f < folder_count; ++f) {
      CreateDirectoryW((folder + L"\\d" + std::to_wstring(f)).c_str(), nullptr);
    }
    for (std::size_t i = 0; i < entry_count; ++i) {
      const std::wstring name = L"d" + std::to_wstring(i % folder_count) + L"\\file" + std::to_wstring(i) + L".bin";
      const std::string bytes(i % 64, 'x');
      HANDLE file = CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      DWORD written = 0;
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(file);
      index.entries.push_back({name, bytes.size()});
    }
    const std::uint64_t seal_start = system_time_now();
    osvari::seal_cached_files(folder, index);
    const double seal = seconds_between(seal_start, system_time_now());

    std::size_t listed = 0;
    std::vector<double> listing_alone, check;
    const osvari::FolderLister lister = [&listed](const std::wstring& path, std::vector<osvari::DirectoryEntry>& entries) {
      const bool complete = osvari::list_directory(path, L"*", entries);
      listed += entries.size();
      return complete;
    };
    // Each listing into a vector of its own, kept until the end, as the check keeps them.
    const auto list_alone = [&] {
      const std::uint64_t start = system_time_now();
      std::vector<std::vector<osvari::DirectoryEntry>> listings(folder_count + 1);
      (void)lister(folder, listings[0]);
      for (std::size_t f = 0; f < folder_count; ++f) (void)lister(folder + L"\\d" + std::to_wstring(f), listings[f + 1]);
      listing_alone.push_back(seconds_between(start, system_time_now()));
    };
    const auto check_folder = [&] {
      const std::uint64_t start = system_time_now();
      const osvari::CacheCheck result = osvari::check_cache_folder(folder, index, lister);
      check.push_back(seconds_between(start, system_time_now()));
      if (!result.complete()) std::printf("  the check found the filled folder incomplete\n");
    };
    for (int run = 0; run < runs; ++run) {
      // In turn, each first every other round: the second listing of a folder may find it warmer.
      if (run % 2 == 0) {
        list_alone();
        check_folder();
      } else {
        check_folder();
        list_alone();
      }
    }
    std::printf("Start-up check of %zu cached entries in %zu folder(s); median of %d runs\n", entry_count,
                folder_count, runs);
    std::printf("  baseline: the same listings (one per folder), made alone\n");
    print_row("check (listings included)", check, listing_alone);
    std::printf("  sealing the %zu files once (cached time, flush each): %.3f s, %.2f ms per file\n", entry_count,
                seal, seal * 1000.0 / entry_count);
  }
  note_load_at_end();
}

// What one file costs the system under the launcher's threads: its creation on one, two and
// three threads, and its removal the launcher's way (opened as itself, its name checked through the
// handle, marked for deletion) on one, two, three and five threads, beside DeleteFileW, over the same
// number of small files in folders of 100: the floors under the unpack and removal ratios.
void measure_file_costs(int runs) {
  note_load_at_start();
  constexpr int file_count = 2000;
  constexpr int folder_count = file_count / 100;
  TemporaryDirectory root;
  const std::wstring folder = osvari::extended_length_path(root / L"files");
  std::vector<std::wstring> paths;
  for (int i = 0; i < file_count; ++i) {
    paths.push_back(folder + L"\\d" + std::to_wstring(i % folder_count) + L"\\f" + std::to_wstring(i));
  }
  const std::string contents(4096, 'x');
  // Milliseconds per file for `each` over all paths, split between `threads` threads.
  const auto per_file = [&](int threads, const std::function<void(const std::wstring&)>& each) {
    const std::uint64_t start = system_time_now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (std::size_t i = t; i < paths.size(); i += threads) each(paths[i]);
      });
    }
    for (std::thread& worker : workers) worker.join();
    return 1000.0 * seconds_between(start, system_time_now()) / file_count;
  };
  const auto create = [&](const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
  };
  const auto make_files = [&](int threads) {
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int f = 0; f < folder_count; ++f) CreateDirectoryW((folder + L"\\d" + std::to_wstring(f)).c_str(), nullptr);
    return per_file(threads, create);
  };
  const auto remove_folders = [&] {
    for (int f = 0; f < folder_count; ++f) RemoveDirectoryW((folder + L"\\d" + std::to_wstring(f)).c_str());
    RemoveDirectoryW(folder.c_str());
  };
  const auto plain_delete = [](const std::wstring& path) { DeleteFileW(path.c_str()); };
  const auto checked_delete = [](const std::wstring& path) { (void)osvari::delete_file_itself(path.c_str(), false); };

  constexpr int deleting_threads[] = {1, 2, 3, 5};
  std::vector<double> made[3], plain, checked[4];
  for (int i = 0; i < runs; ++i) {
    made[0].push_back(make_files(1));
    plain.push_back(per_file(1, plain_delete));
    remove_folders();
    for (int k = 0; k < 4; ++k) {
      const int threads = deleting_threads[k];
      if (threads == 2 || threads == 3) {
        made[threads - 1].push_back(make_files(threads));
      } else {
        (void)make_files(1);
      }
      checked[k].push_back(per_file(threads, checked_delete));
      remove_folders();
    }
  }
  const auto row = [](const char* what, double ms, double baseline) {
    std::printf("  %-42s %7.3f ms per file   %s\n", what, ms, ratio_text(ms, baseline).c_str());
  };
  std::printf("One file's cost, %d files of 4 KiB in folders of 100; median of %d runs\n", file_count, runs);
  std::printf("  baselines: CreateFileW, WriteFile, CloseHandle on one thread; DeleteFileW on one thread\n");
  row("created on one thread", median(made[0]), median(made[0]));
  row("created on two threads", median(made[1]), median(made[0]));
  row("created on three threads", median(made[2]), median(made[0]));
  row("DeleteFileW on one thread", median(plain), median(plain));
  row("handle-checked delete, one thread", median(checked[0]), median(plain));
  row("handle-checked delete, two threads", median(checked[1]), median(plain));
  row("handle-checked delete, three threads", median(checked[2]), median(plain));
  row("handle-checked delete, five threads", median(checked[3]), median(plain));
  std::printf("  (more threads gain only as far as the system takes requests for several files at once; the\n"
              "  checked delete opens the file itself, asks its name and marks it: four requests where\n"
              "  DeleteFileW makes two; the unpack writes on %zu threads, the removal walk deletes on five)\n",
              osvari::unpack_writer_count);
  note_load_at_end();
}

// The same application packed as a program and as a main library, each run first in a fresh
// folder beside the plain floor; then a cached program's start beside the program started
// directly with CreateProcessW from a plain host. Each round runs every one in turn.
void measure_program(int runs) {
  note_load_at_start();
  const char* title = "1,900 files, 326 MiB (largest 163 MiB)";
  const Payload library = make_payload(title, 1900, 326u << 20, 163u << 20, 40);
  const Payload program = make_payload(title, 1900, 326u << 20, 163u << 20, 40, true, false, true);
  TemporaryDirectory root;
  const std::wstring temp = root / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  const TemporaryTempVariables temp_variables(temp);
  const std::wstring stamp_file = root / L"stamp.txt";
  const std::wstring library_exe = root / L"library.exe";
  const std::wstring program_exe = root / L"program.exe";
  make_launcher_copy(library_exe, library.attached_data);
  make_launcher_copy(program_exe, program.attached_data);

  std::vector<double> as_library, as_program, floor;
  for (int i = 0; i < runs; ++i) {
    const auto whole = [](const Run& run) { return seconds_between(run.start, run.end); };
    if (i % 2 == 1) floor.push_back(whole(plain_run(library, root / L"plain", stamp_file)));
    as_program.push_back(whole(launcher_run(program_exe, stamp_file)));
    as_library.push_back(whole(launcher_run(library_exe, stamp_file)));
    if (i % 2 == 0) floor.push_back(whole(plain_run(library, root / L"plain", stamp_file)));
    if (has_unpack_folder(temp)) std::printf("  round %d left an unpack folder behind\n", i + 1);
  }
  std::printf("%s, first run, packed as a program and as a main library; median of %d runs\n", title, runs);
  print_row("whole run, program", as_program, floor);
  print_row("whole run, main library", as_library, floor);
  print_row("program against main library", as_program, as_library);

  // The cache filled once; every later start checks it and starts the program from it.
  const Payload cached = make_payload("", 1, 0, 0, 1, true, true, true);
  const std::wstring cached_exe = root / L"cached.exe";
  make_launcher_copy(cached_exe, cached.attached_data);
  const std::wstring local = root / L"local";
  CreateDirectoryW(local.c_str(), nullptr);
  const TemporaryVariable local_variable(L"LOCALAPPDATA", local);
  (void)launcher_run(cached_exe, stamp_file);
  const std::wstring direct = root / L"direct";
  CreateDirectoryW(direct.c_str(), nullptr);
  const std::wstring direct_program = direct + L"\\hosted_program.exe";
  CopyFileW((build_output_directory() + L"\\hosted_program.exe").c_str(), direct_program.c_str(), FALSE);
  std::vector<double> cached_start, direct_start;
  for (int i = 0; i < runs; ++i) {
    const Run ours = launcher_run(cached_exe, stamp_file);
    const Run plain = run_process_timed(direct_program, L"\"" + direct_program + L"\" --exit 0");
    cached_start.push_back(seconds_between(ours.start, ours.end));
    direct_start.push_back(seconds_between(plain.start, plain.end));
  }
  std::printf("The program alone, later runs from the cache; plain: the same program started directly\n");
  print_row("cached program, start to end", cached_start, direct_start);
  note_load_at_end();
}

int host_library(int argc, wchar_t** argv) {
  HMODULE library = LoadLibraryExW(argv[2], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return 3;
  using RunCode = int (*)(int, wchar_t**);
  const auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
  if (run_code == nullptr) return 4;
  // The application sees the host's path as argument 0 and the rest of the arguments.
  std::vector<wchar_t*> arguments{argv[0]};
  for (int i = 3; i < argc; ++i) arguments.push_back(argv[i]);
  arguments.push_back(nullptr);
  return run_code(static_cast<int>(arguments.size() - 1), arguments.data());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring_view(argv[1]) == L"--host") return host_library(argc, argv);
  if (argc == 2 && std::wstring_view(argv[1]) == L"--bare-window") return show_bare_window();
  if (argc == 2 && std::wstring_view(argv[1]) == L"--no-window") return 0;
  if (argc == 4 && std::wstring_view(argv[1]) == L"--time-parent-check") return time_parent_check(argv[2], argv[3]);
  const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
  const std::wstring only = argc > 2 ? argv[2] : L"";
  if (only == L"checksum") {
    measure_checksum_cost(runs);
    return 0;
  }
  if (only == L"progress") {
    measure_progress_window_cost(runs);
    return 0;
  }
  const auto measure_caches = [runs] {
    measure_cache(make_payload("2,000 small files", 2000, 8u << 20, 64u << 10, 40, true, true), runs);
    measure_cache(make_payload("1,900 files, 326 MiB (largest 163 MiB)", 1900, 326u << 20, 163u << 20, 40, true, true),
                  runs);
  };
  if (only == L"cache") {
    measure_caches();
    return 0;
  }
  if (only == L"check") {
    measure_check(runs);
    return 0;
  }
  if (only == L"files") {
    measure_file_costs(runs);
    return 0;
  }
  if (only == L"writers") {
    const std::wstring which = argc > 3 ? argv[3] : L"";
    if (which != L"small") measure_writers(make_payload("1,900 files, 326 MiB (largest 163 MiB)", 1900, 326u << 20, 163u << 20, 40), runs);
    if (which != L"large") measure_writers(make_payload("20,000 small files", 20000, 40u << 20, 1u << 20, 200), runs);
    return 0;
  }
  if (only == L"program") {
    measure_program(runs);
    return 0;
  }
  if (only == L"leftovers" || only == L"paired") {
    measure_leftover_sweep(runs, argc > 3 ? argv[3] : L"", only == L"paired");
    return 0;
  }
  std::printf("Plain: a decode-and-write loop, a process that loads the library, a FindFirstFileExW /\n"
              "DeleteFileW walk, each serial on one thread and unchanged, so the ratios compare with the\n"
              "same floor as before. Ratio: launcher / plain.\n\n");
  if (only != L"small") {
    measure(make_payload("1,900 files, 326 MiB (largest 163 MiB)", 1900, 326u << 20, 163u << 20, 40), runs);
  }
  if (only != L"large") measure(make_payload("20,000 small files", 20000, 40u << 20, 1u << 20, 200), runs);
  if (only.empty()) {
    measure_file_costs(runs);
    measure_caches();
    measure_program(runs);
  }
  return 0;
}
