// What the sweep of killed runs' leftovers costs and achieves: how long a later run must last
// for a leftover to go, what a leftover adds to the end of a run that ends at once, and the
// whole run beside another launcher build with no leftovers at all.
#pragma once

#include <string>

namespace osvari::benchmark {

// `runs` rounds of each measurement. `baseline_launcher`, when given, is a launcher built from
// another revision, run in turn with this build's on the same payload; with `paired_only`, that
// is all that is measured.
void measure_leftover_sweep(int runs, const std::wstring& baseline_launcher, bool paired_only);

}  // namespace osvari::benchmark
