// The small window a windowed executable shows while a long unpacking runs: the product's icon
// and name (or a splash image), a progress bar and Cancel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace osvari {

struct ProgressWindowLook {
  std::wstring title;                           // the caption, and the line beside the icon
  void* icon = nullptr;                         // an HICON; null for the system's application icon
  std::span<const unsigned char> splash_image;  // an image file the system decodes (PNG, JPEG, BMP, GIF), or none
};

struct ProgressReading {
  std::uint64_t done = 0;
  std::uint64_t total = 0;  // 0: not known, and the bar only shows that work goes on
};

enum class ProgressWindowEnd {
  closed,     // close() was called
  cancelled,  // the person pressed Cancel or Escape, or closed the window
  not_shown,  // the system could make no window (no display, a library missing)
};

class ProgressWindow {
 public:
  // Shows the window on the calling thread and runs its messages, reading the progress 10 times
  // a second, until close() or the person cancels. `gone` runs once the window can no longer be
  // seen and never will be (also when none could be made), which may be well before run()
  // returns: under Wine without a window manager, destroying a window waits 2 s for one. After
  // a cancel, the window is left to the end of the process, which is near.
  ProgressWindowEnd run(const ProgressWindowLook& look, const std::function<ProgressReading()>& read,
                        const std::function<void()>& gone);

  // Any thread: ends run() soon, also when called before run() has made its window; a window
  // not yet shown then never shows.
  void close();

  // Forgets an earlier close(), for the next run().
  void reset() { close_requested_.store(false); }

 private:
  std::atomic<bool> close_requested_{false};
  std::atomic<void*> window_{nullptr};
};

}  // namespace osvari
