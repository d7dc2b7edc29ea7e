// The files of one directory deleted by two threads: the walk's own and a helper that waits
// between directories, so the system works on two files at a time.
#pragma once

#include <atomic>
#include <condition_variable>
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

  // Deletes each of `files` through the system's delete_file, on this thread and the helper
  // (started on first need; without it, this thread does all). Returns once every file was
  // tried and the helper is idle again, or once `out_of_time`, asked by this thread before each
  // file, said so: false then, and the helper has stopped too.
  bool delete_all(const std::vector<FileToDelete>& files, const std::function<bool()>& out_of_time);

 private:
  struct Batch {
    const std::vector<FileToDelete>& files;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
  };

  bool start_helper();
  void run_helper();
  void delete_from(Batch& batch);

  FileTreeOperations& system_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Batch* batch_ = nullptr;  // the one the helper is to share, until it is done with it
  bool quit_ = false;
  bool helper_failed_ = false;
  std::thread helper_;
};

}  // namespace osvari
