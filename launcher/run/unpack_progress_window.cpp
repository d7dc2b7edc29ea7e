#include "launcher/run/unpack_progress_window.h"

#include <chrono>
#include <condition_variable>
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

// One unpacking runs at a time; its window's thread and what ends it.
struct ProgressWatch {
  std::mutex mutex;
  std::condition_variable ended;
  bool unpacking_ended = false;
  ProgressWindow window;
  std::thread thread;
};

ProgressWatch watch;

void show_when_slow(std::uint64_t total_bytes) {
  {
    std::unique_lock lock(watch.mutex);
    const auto delay = std::chrono::milliseconds(progress_window_delay_milliseconds);
    if (watch.ended.wait_for(lock, delay, [] { return watch.unpacking_ended; })) return;
  }
  const ProgressWindowLook look{window_title(), own_icon(32), own_splash_image()};
  const ProgressWindowEnd end =
      watch.window.run(look, [total_bytes] { return ProgressReading{unpacked_bytes_written(), total_bytes}; });
  if (end != ProgressWindowEnd::cancelled) return;
  // As a Ctrl-C: the writers stop, the folder goes, and the process ends as the system's
  // console handler would end it.
  cleanup_unpack_directory();
  end_process(terminated_child_exit_code);
}

}  // namespace

ProgressWindowDuringUnpack::ProgressWindowDuringUnpack(std::uint64_t total_bytes) {
  if (!own_window_options().progress_window || !own_executable_is_windowed()) return;
  close_progress_window();  // an earlier unpacking's, should one be left
  {
    const std::lock_guard lock(watch.mutex);
    watch.unpacking_ended = false;
  }
  watch.window.reset();
  try {
    watch.thread = std::thread(show_when_slow, total_bytes);
  } catch (const std::system_error&) {
    // No thread, no window: the unpacking goes on as in a console executable.
  }
}

ProgressWindowDuringUnpack::~ProgressWindowDuringUnpack() { close_progress_window(); }

void close_progress_window() {
  if (!watch.thread.joinable() || watch.thread.get_id() == std::this_thread::get_id()) return;
  {
    const std::lock_guard lock(watch.mutex);
    watch.unpacking_ended = true;
  }
  watch.ended.notify_all();
  watch.window.close();
  watch.thread.join();
}

}  // namespace osvari
