#include "launcher/finish/sweep_while_waiting.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "launcher/finish/made_folder_record.h"
#include "platform/processes.h"

namespace osvari {
namespace {

// Never destroyed: a thread may still run while the process ends.
struct RunningSweeps {
  std::mutex mutex;
  std::condition_variable ended;
  int count = 0;
  std::atomic<bool> stop_all{false};
};

RunningSweeps& running_sweeps() {
  static RunningSweeps* const sweeps = new RunningSweeps;
  return *sweeps;
}

void sweep(const std::vector<SweepPlace>& places, const std::atomic<bool>& stop) {
  const std::function<bool()> stopped = [&stop] { return stop.load() || running_sweeps().stop_all.load(); };
  set_current_thread_priority(thread_priority_below_normal);
  const std::uint64_t rotation = sweep_rotation();
  const std::unique_ptr<SweepOperations> system = make_system_sweep_operations(stopped);
  for (const SweepPlace& place : places) {
    if (stopped()) return;
    (void)sweep_finished_runs(place.directory, place.own_name, *system, no_removal_limit, rotation);
  }
  RecordOperations& records = system_record_operations();
  (void)drop_stale_records(records, records.count(), rotation, stopped);
}

}  // namespace

SweepWhileWaiting::SweepWhileWaiting() : SweepWhileWaiting(places_swept_at_start()) {}

SweepWhileWaiting::SweepWhileWaiting(std::vector<SweepPlace> places) {
  RunningSweeps& sweeps = running_sweeps();
  {
    const std::lock_guard lock(sweeps.mutex);
    if (sweeps.stop_all) return;
    ++sweeps.count;
  }
  try {
    thread_ = std::thread([this, places = std::move(places)] {
      sweep(places, stop_);
      RunningSweeps& sweeps = running_sweeps();
      const std::lock_guard lock(sweeps.mutex);
      --sweeps.count;
      sweeps.ended.notify_all();
    });
  } catch (const std::system_error&) {
    const std::lock_guard lock(sweeps.mutex);
    --sweeps.count;
  }
}

SweepWhileWaiting::~SweepWhileWaiting() { stop(); }

void SweepWhileWaiting::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void stop_sweeps_while_waiting() {
  RunningSweeps& sweeps = running_sweeps();
  std::unique_lock lock(sweeps.mutex);
  sweeps.stop_all = true;
  sweeps.ended.wait(lock, [&sweeps] { return sweeps.count == 0; });
}

}  // namespace osvari
