#include "launcher/finish/parallel_file_deletion.h"

#include <system_error>

namespace osvari {
namespace {

// Below this, waking the helper costs more than it saves.
constexpr std::size_t files_worth_sharing = 4;

}  // namespace

ParallelFileDeletion::~ParallelFileDeletion() {
  if (!helper_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

bool ParallelFileDeletion::start_helper() {
  if (helper_.joinable()) return true;
  if (helper_failed_) return false;
  try {
    helper_ = std::thread([this] { run_helper(); });
  } catch (const std::system_error&) {
    helper_failed_ = true;  // no thread to be had: one is enough to get the work done
  }
  return helper_.joinable();
}

void ParallelFileDeletion::run_helper() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || batch_ != nullptr; });
    if (quit_) return;
    Batch& batch = *batch_;
    lock.unlock();
    delete_from(batch);
    lock.lock();
    batch_ = nullptr;
    changed_.notify_all();
  }
}

void ParallelFileDeletion::delete_from(Batch& batch) {
  while (!batch.stop.load()) {
    const std::size_t index = batch.next.fetch_add(1);
    if (index >= batch.files.size()) return;
    const FileToDelete& file = batch.files[index];
    (void)system_.delete_file(file.path, file.clear_blocking_attributes);
  }
}

bool ParallelFileDeletion::delete_all(const std::vector<FileToDelete>& files,
                                      const std::function<bool()>& out_of_time) {
  Batch batch{files};
  const bool shared = files.size() >= files_worth_sharing && start_helper();
  if (shared) {
    {
      const std::lock_guard lock(mutex_);
      batch_ = &batch;
    }
    changed_.notify_all();
  }
  while (batch.next.load() < files.size()) {
    if (out_of_time && out_of_time()) {
      batch.stop = true;
      break;
    }
    const std::size_t index = batch.next.fetch_add(1);
    if (index >= files.size()) break;
    (void)system_.delete_file(files[index].path, files[index].clear_blocking_attributes);
  }
  if (shared) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return batch_ == nullptr; });
  }
  return !batch.stop.load();
}

}  // namespace osvari
