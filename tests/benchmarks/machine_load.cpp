#include "tests/benchmarks/machine_load.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace osvari::benchmark {
namespace {

bool ratios_allowed_now = true;
MachineLoad load_at_start;

}  // namespace

MachineLoad machine_load() {
  MachineLoad load;
  load.cores = std::thread::hardware_concurrency();
  // Wine shows the Linux file system as drive Z:.
  std::ifstream averages("Z:\\proc\\loadavg");
  double one_minute = -1;
  if (averages >> one_minute) load.one_minute = one_minute;
  return load;
}

bool ratios_allowed(const MachineLoad& load) {
  return load.one_minute >= 0 && load.cores > 0 && load.one_minute <= static_cast<double>(load.cores);
}

std::string describe(const MachineLoad& load) {
  char text[96];
  if (load.one_minute < 0) {
    std::snprintf(text, sizeof text, "load unknown on %u cores", load.cores);
  } else {
    std::snprintf(text, sizeof text, "load %.2f on %u cores", load.one_minute, load.cores);
  }
  return text;
}

void note_load_at_start() {
  // The one-minute average still counts the measurement before this one: it is given up to two
  // minutes to fade before this one starts, so that only other work withholds the ratios.
  constexpr int most_waits = 24;
  load_at_start = machine_load();
  int waits = 0;
  for (; waits < most_waits && load_at_start.one_minute >= 0 && !ratios_allowed(load_at_start); ++waits) {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    load_at_start = machine_load();
  }
  if (waits > 0) std::printf("  (waited %d s for the load to fall to the core count)\n", 5 * waits);
  ratios_allowed_now = ratios_allowed(load_at_start);
}

void note_load_at_end() {
  std::printf("  machine: %s at the start, %s at the end (one-minute load average)\n",
              describe(load_at_start).c_str(), describe(machine_load()).c_str());
  if (!ratios_allowed_now) {
    std::printf("  ratios withheld: %s;\n  other work shared the cores, so a ratio would not compare the code alone\n",
                load_at_start.one_minute < 0 ? "the load at the start is unknown"
                                             : "the load at the start was above the core count");
  }
  std::printf("\n");
}

bool ratios_printed() { return ratios_allowed_now; }

}  // namespace osvari::benchmark
