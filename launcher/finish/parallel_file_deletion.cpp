#include "launcher/finish/parallel_file_deletion.h"

#include <system_error>

#include "platform/processes.h"

namespace osvari {
namespace {

// Under Wine each deletion waits on the wineserver for most of its time, so more threads than
// cores keep it busy: removing 20,000 files took 1.09-1.18 of a plain one-thread walk's time
// with five threads against 1.24-1.32 with three; seven gained nothing more.
constexpr std::size_t helper_count = 4;
// Below this, waking the helpers costs more than it saves.
constexpr std::size_t files_worth_sharing = 4;

}  // namespace

ParallelFileDeletion::~ParallelFileDeletion() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void ParallelFileDeletion::start_helpers() {
  if (tried_to_start_) return;
  tried_to_start_ = true;
  // A sweep below normal priority keeps its helpers there too.
  const int priority = current_thread_priority();
  try {
    while (helpers_.size() < helper_count) helpers_.emplace_back([this, priority] { run_helper(priority); });
  } catch (const std::system_error&) {
    // Fewer threads than hoped: those there are get the work done.
  }
}

void ParallelFileDeletion::run_helper(int priority) {
  set_current_thread_priority(priority);
  std::uint64_t served = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return quit_ || generation_ != served; });
    if (quit_) return;
    served = generation_;
    Batch& batch = *batch_;
    lock.unlock();
    delete_from(batch);
    lock.lock();
    if (--helpers_busy_ == 0) changed_.notify_all();
  }
}

void ParallelFileDeletion::delete_from(Batch& batch) {
  while (!batch.stop.load() && batch.next.load() < batch.files.size()) {
    if (batch.out_of_time && batch.out_of_time()) {
      batch.stop = true;
      return;
    }
    const std::size_t index = batch.next.fetch_add(1);
    if (index >= batch.files.size()) return;
    const FileToDelete& file = batch.files[index];
    (void)system_.delete_file(file.path, file.clear_blocking_attributes);
  }
}

bool ParallelFileDeletion::delete_all(const std::vector<FileToDelete>& files,
                                      const std::function<bool()>& out_of_time) {
  Batch batch{files, out_of_time};
  if (files.size() >= files_worth_sharing) start_helpers();
  const bool shared = files.size() >= files_worth_sharing && !helpers_.empty();
  if (shared) {
    {
      const std::lock_guard lock(mutex_);
      batch_ = &batch;
      helpers_busy_ = helpers_.size();
      ++generation_;
    }
    changed_.notify_all();
  }
  delete_from(batch);
  if (shared) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return helpers_busy_ == 0; });
    batch_ = nullptr;
  }
  return !batch.stop.load();
}

}  // namespace osvari
