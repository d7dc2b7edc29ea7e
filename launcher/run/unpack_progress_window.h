// The progress window of a long unpacking (a first run, a cache fill or repair).
#pragma once

#include <cstdint>

namespace osvari {

inline constexpr std::uint32_t progress_window_delay_milliseconds = 500;

// For as long as it lives, around one unpacking in a windowed executable packed with the progress
// window: once 0.5 s have passed, the next block the unpacking passes on starts a thread that
// shows the window, its bar counting the bytes written towards `total_bytes` (0: not known); an
// unpacking that ends sooner starts no thread. The window is gone once this is. Cancel acts as
// Ctrl-C does: the writers stop, the unpack directory is removed and the process ends with
// STATUS_CONTROL_C_EXIT. A console executable gets nothing.
class ProgressWindowDuringUnpack {
 public:
  explicit ProgressWindowDuringUnpack(std::uint64_t total_bytes);
  ~ProgressWindowDuringUnpack();
  ProgressWindowDuringUnpack(const ProgressWindowDuringUnpack&) = delete;
  ProgressWindowDuringUnpack& operator=(const ProgressWindowDuringUnpack&) = delete;
};

// Closes the progress window, if one shows or waits to, and waits until it is gone: for a
// failure exit, before its message box.
void close_progress_window();

}  // namespace osvari
