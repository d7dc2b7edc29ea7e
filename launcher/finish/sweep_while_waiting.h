// Sweeping finished runs' folders while this run waits for its application: the wait is long
// and idle, the start-up sweep's budget is a few milliseconds, and a killed run may leave
// thousands of files. The sweep runs on a thread of its own at below-normal priority and stops
// between two files once the wait is over, so the end of the run is not held up.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "launcher/finish/finished_run_sweep.h"

namespace osvari {

// Around any wait on the application, for example:
//   { const SweepWhileWaiting sweeping; wait_for_object(child, infinite_wait); }
// Started after the child has been created, stopped as the wait returns.
class SweepWhileWaiting {
 public:
  // Sweeps the places this run's start-up sweeps covered (places_swept_at_start()).
  SweepWhileWaiting();
  // Drops stale records of made folders, then sweeps each place with no removal limit and no
  // budget, once, until done or stopped. Starts nothing once stop_sweeps_while_waiting ran, or
  // when no thread can be started (a later run sweeps then).
  explicit SweepWhileWaiting(std::vector<SweepPlace> places);
  // stop().
  ~SweepWhileWaiting();
  SweepWhileWaiting(const SweepWhileWaiting&) = delete;
  SweepWhileWaiting& operator=(const SweepWhileWaiting&) = delete;

  // Asks the sweep to stop and waits for its thread, which ends after the file at hand.
  void stop();

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Stops every sweep while waiting in the process and returns once their threads are done with
// the file system; none starts afterwards. For the ends of the process that skip the owners'
// stop(): a console event, or the application leaving through exit().
void stop_sweeps_while_waiting();

}  // namespace osvari
