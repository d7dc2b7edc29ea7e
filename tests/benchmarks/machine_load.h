// The machine's state beside the figures: a ratio measured while other work runs on every core
// says more about that work than about the code.
#pragma once

#include <string>

namespace osvari::benchmark {

struct MachineLoad {
  double one_minute = -1;  // below zero when it cannot be read
  unsigned cores = 0;
};

// The load average of the last minute (read from Linux's /proc/loadavg) and the cores.
MachineLoad machine_load();

// True when ratios are worth printing: the load is known and no higher than the cores.
bool ratios_allowed(const MachineLoad& load);

// "load 0.42 on 2 cores", or what could not be read.
std::string describe(const MachineLoad& load);

// Notes the load at the start of a measurement, which decides whether its ratios are printed,
// once it has fallen to the core count or two minutes have passed; then waits (at most a minute)
// for the cores to be nearly idle for a second, and says so when it waited.
void note_load_at_start();
// Prints the load at its start and now, and why ratios were withheld if they were.
void note_load_at_end();
// Whether the measurement under way prints its ratios (see ratios_allowed).
bool ratios_printed();

}  // namespace osvari::benchmark
