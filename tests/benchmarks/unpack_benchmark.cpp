// Prints how long a onefile run takes and how much memory the launcher uses, for attached
// data of a chosen scale: unpack_benchmark [files] [total MiB] [largest MiB] [level]
// The default is the scale the launcher is built for: 1,900 files, 326 MiB, largest 163 MiB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"
// After <windows.h>:
#include <psapi.h>

#include "tests/support/launcher_copy.h"
#include "tests/support/onefile_runner.h"
#include "tools/pack/attached_data_format.h"

using namespace osvari::testing;

namespace {

struct Figures {
  double seconds = 0;
  std::size_t peak_working_set = 0;
  DWORD exit_code = 0;
};

Figures run_once(const std::wstring& launcher, const std::wstring& temp) {
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  std::wstring command_line = L"\"" + launcher + L"\" --exit 0";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessW(launcher.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cannot start the launcher: %lu\n", GetLastError());
    std::exit(1);
  }
  // Sampled while it runs: Wine keeps no counters for a process that has ended.
  Figures figures;
  PROCESS_MEMORY_COUNTERS counters{};
  do {
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      figures.peak_working_set = std::max(figures.peak_working_set, counters.PeakWorkingSetSize);
    }
  } while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT);
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  GetExitCodeProcess(process.hProcess, &figures.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return figures;
}

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

}  // namespace

int main(int argc, char** argv) {
  const std::size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1900;
  const std::size_t total_mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 326;
  const std::size_t largest_mib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 163;
  const int level = argc > 4 ? std::atoi(argv[4]) : 3;

  const std::string library = built_library(L"hosted_app.dll");
  const std::size_t largest = largest_mib << 20;
  const std::size_t rest = (total_mib << 20) - largest - library.size();
  const std::size_t small = files > 2 ? rest / (files - 2) : 0;

  std::string attached(osvari::pack::attached_data_header);
  osvari::pack::FrameCompressor compressor({.level = level}, [&](std::string_view chunk) { attached.append(chunk); });
  std::string prefix;
  auto add = [&](const std::u16string& name, const std::string& contents) {
    prefix.clear();
    osvari::pack::append_entry_prefix(prefix, name, contents.size());
    compressor.write(prefix);
    compressor.write(contents);
  };
  add(u"hosted_app.dll", library);
  add(u"largest.bin", compressible_bytes(largest, 7));
  for (std::size_t i = 0; i + 2 < files; ++i) {
    const std::string name = "dir" + std::to_string(i % 40) + "\\file" + std::to_string(i) + ".dat";
    add(std::u16string(name.begin(), name.end()), compressible_bytes(small, static_cast<unsigned>(i)));
  }
  prefix.clear();
  osvari::pack::append_terminator(prefix);
  compressor.write(prefix);
  compressor.finish();
  attached.append(osvari::pack::trailer_for(attached.size()));

  TemporaryDirectory directory;
  const std::wstring launcher = directory / L"benchmark.exe";
  make_launcher_copy(launcher, attached);
  const std::wstring temp = directory / L"temp";
  CreateDirectoryW(temp.c_str(), nullptr);

  std::printf("attached data: %zu files, %zu MiB decoded, %.1f MiB compressed (level %d)\n", files, total_mib,
              attached.size() / 1048576.0, level);
  for (int run = 1; run <= 3; ++run) {
    const Figures figures = run_once(launcher, temp);
    std::printf("run %d: %.2f s for unpack, child run and removal; launcher peak working set %.1f MiB; exit %lu\n",
                run, figures.seconds, figures.peak_working_set / 1048576.0, figures.exit_code);
  }
  return 0;
}
