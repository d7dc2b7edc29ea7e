// The files of one directory deleted by several threads: the walk's own and helpers that wait
// between directories, so the system always has more than one deletion to work on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/finish/tree_removal.h"

namespace osvari {

struct FileToDelete {
  std::wstring path;
  bool clear_blocking_attributes = false;
};

class ParallelFileDeletion {
 public:
  explicit ParallelFileDeletion(FileTreeOperations& system) : system_(system) {}
  ~ParallelFileDeletion();
  ParallelFileDeletion(const ParallelFileDeletion&) = delete;
  ParallelFileDeletion& operator=(const ParallelFileDeletion&) = delete;

  // Deletes each of `files` through the system's delete_file, on this thread and the helpers
  // (started on first need, at this thread's priority; without them, this thread does all).
  // Returns once every file was tried and the helpers are idle again, or once `out_of_time`
  // said so: false then, and the helpers have stopped too. Every thread asks `out_of_time`
  // before each file it deletes, so it must answer on several threads at once: a deletion that
  // must not outlive a condition (a mark taken, the end of a wait) checks it itself.
  bool delete_all(const std::vector<FileToDelete>& files, const std::function<bool()>& out_of_time);

 private:
  struct Batch {
    const std::vector<FileToDelete>& files;
    const std::function<bool()>& out_of_time;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
  };

  void start_helpers();
  void run_helper(int priority);
  // Takes the batch's next file until none is left or it stops; the batch's `out_of_time`,
  // when given, is asked before each file and stops the batch for every thread.
  void delete_from(Batch& batch);

  FileTreeOperations& system_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Batch* batch_ = nullptr;         // the one the helpers are to share
  std::uint64_t generation_ = 0;   // counts the batches handed out
  std::size_t helpers_busy_ = 0;   // helpers not yet done with the current batch
  bool quit_ = false;
  bool tried_to_start_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace osvari
