#include "launcher/run/unpack_progress_window.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "launcher/finish/shutdown.h"
#include "launcher/run/shown_windows.h"
#include "payload/unpack.h"
#include "platform/modules.h"
#include "platform/processes.h"
#include "platform/progress_window.h"

namespace osvari {
namespace {

// One unpacking's window and its thread. The thread holds it too: once the window can no longer
// be seen, the unpacking goes on without waiting for the thread, which may still be destroying
// the window.
struct ProgressWatch {
  std::mutex mutex;
  std::condition_variable changed;
  bool window_gone = false;  // the window can no longer be seen and never will be
  ProgressWindow window;
};

// The current unpacking's window and its thread, once started; the main thread alone uses them.
std::shared_ptr<ProgressWatch> current_watch;
std::thread current_thread;

// The current unpacking before its window's thread starts: the decoding thread looks at the
// clock after each block, so an unpacking that ends in time costs no thread at all.
struct PendingWindow {
  bool waiting = false;
  std::chrono::steady_clock::time_point show_at;
  std::uint64_t total_bytes = 0;
};
PendingWindow pending;

void mark_gone(ProgressWatch& watch) {
  {
    const std::lock_guard lock(watch.mutex);
    watch.window_gone = true;
  }
  watch.changed.notify_all();
}

void show_window(const std::shared_ptr<ProgressWatch>& watch, std::uint64_t total_bytes) {
  // Making the first window of a process loads the system's window libraries, which takes CPU
  // time the unpacking should have; the window waits its turn instead.
  set_current_thread_priority(thread_priority_lowest);
  const ProgressWindowLook look{window_title(), own_icon(32), own_splash_image()};
  const ProgressWindowEnd end = watch->window.run(
      look, [total_bytes] { return ProgressReading{unpacked_bytes_written(), total_bytes}; },
      [&] { mark_gone(*watch); });
  if (end != ProgressWindowEnd::cancelled) return;
  // As a Ctrl-C: the writers stop, the folder goes, and the process ends as the system's
  // console handler would end it.
  cleanup_unpack_directory();
  end_process(terminated_child_exit_code);
}

// On the decoding thread, after each block.
void show_when_slow() {
  if (!pending.waiting || std::chrono::steady_clock::now() < pending.show_at) return;
  pending.waiting = false;
  auto watch = std::make_shared<ProgressWatch>();
  try {
    current_thread = std::thread(show_window, watch, pending.total_bytes);
    current_watch = std::move(watch);
  } catch (const std::system_error&) {
    // No thread, no window: the unpacking goes on as in a console executable.
  }
}

}  // namespace

ProgressWindowDuringUnpack::ProgressWindowDuringUnpack(std::uint64_t total_bytes) {
  if (!own_window_options().progress_window || !own_executable_is_windowed()) return;
  close_progress_window();  // an earlier unpacking's, should one be left
  pending = {.waiting = true,
             .show_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(progress_window_delay_milliseconds),
             .total_bytes = total_bytes};
  call_during_unpacking(show_when_slow);
}

ProgressWindowDuringUnpack::~ProgressWindowDuringUnpack() { close_progress_window(); }

void close_progress_window() {
  if (pending.waiting) {
    pending.waiting = false;
    call_during_unpacking(nullptr);
  }
  if (!current_thread.joinable() || current_thread.get_id() == std::this_thread::get_id()) return;
  call_during_unpacking(nullptr);
  ProgressWatch& watch = *current_watch;
  watch.window.close();
  std::unique_lock lock(watch.mutex);
  watch.changed.wait(lock, [&] { return watch.window_gone; });
  lock.unlock();
  current_thread.detach();
  current_watch.reset();
}

}  // namespace osvari
