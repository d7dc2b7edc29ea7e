// The system's own cost of a process's first window, as a floor for the progress window's.
#pragma once

namespace osvari::benchmark {

// In a process of its own: loads the window libraries as the launcher does (only now, not at
// the start), makes a window with a progress bar and a button like the progress window, shows
// it, moves the bar ten times and lets the window go. Returns the exit code.
int show_bare_window();

}  // namespace osvari::benchmark
