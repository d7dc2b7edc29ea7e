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
  // (started on first need; without them, this thread does all). Returns once every file was
  // tried and the helpers are idle again, or once `out_of_time`, asked by this thread before
  // each file, said so: false then, and the helpers have stopped too.
  bool delete_all(const std::vector<FileToDelete>& files, const std::function<bool()>& out_of_time);

 private:
  struct Batch {
    const std::vector<FileToDelete>& files;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
  };

  void start_helpers();
  void run_helper();
  // Takes the batch's next file until none is left or it stops; `out_of_time`, when given, is
  // asked before each file and stops the batch for every thread.
  void delete_from(Batch& batch, const std::function<bool()>& out_of_time);

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
