#include "tests/benchmarks/machine_load.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace osvari::benchmark {
namespace {

bool ratios_allowed_now = true;
MachineLoad load_at_start;

struct CpuCounts {
  unsigned long long busy = 0;
  unsigned long long total = 0;
};

// The machine's CPU time so far, all cores together, from Linux's /proc/stat.
std::optional<CpuCounts> cpu_counts() {
  std::ifstream stat("Z:\\proc\\stat");
  std::string label;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  if (!(stat >> label >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) || label != "cpu") {
    return std::nullopt;
  }
  const unsigned long long busy = user + nice + system + irq + softirq + steal;
  return CpuCounts{busy, busy + idle + iowait};
}

// The share of the machine's CPU time in use over the next second, or below zero when unknown.
double busy_share_over_a_second() {
  const std::optional<CpuCounts> before = cpu_counts();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::optional<CpuCounts> after = cpu_counts();
  if (!before || !after || after->total <= before->total) return -1;
  return static_cast<double>(after->busy - before->busy) / static_cast<double>(after->total - before->total);
}

// Waits, at most a minute, until the cores have been nearly idle for a second: the one-minute
// load average is too slow to see work that ends within seconds, such as the programs a new
// Wine session starts in the background (wineboot, rpcss, services and device programs).
void wait_for_quiet_cores() {
  constexpr double quiet_share = 0.10;
  constexpr int most_seconds = 60;
  double share = busy_share_over_a_second();
  const double first_share = share;
  int seconds = 1;
  for (; seconds < most_seconds && share > quiet_share; ++seconds) share = busy_share_over_a_second();
  if (first_share > quiet_share) {
    std::printf("  (waited %d s for the cores to go quiet: %.0f%% busy at first, %.0f%% at the end)\n", seconds,
                100 * first_share, 100 * share);
  }
}

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
  wait_for_quiet_cores();
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
