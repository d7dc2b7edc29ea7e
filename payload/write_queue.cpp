#include "payload/write_queue.h"

#include <new>

namespace osvari {

bool WriteQueue::reset() {
  const std::lock_guard lock(mutex_);
  if (blocks_.empty()) {
    blocks_.resize(write_block_count);
    for (WriteBlock& block : blocks_) {
      block.bytes.reset(new (std::nothrow) unsigned char[write_block_bytes]);
      if (!block.bytes) {
        blocks_.clear();
        return false;
      }
      block.pieces.reserve(pieces_per_block);
      block.paths.reserve(path_units_per_block);
    }
  }
  empty_.clear();
  full_.clear();
  for (WriteBlock& block : blocks_) {
    block.clear();
    empty_.push_back(&block);
  }
  input_closed_ = false;
  return true;
}

WriteBlock* WriteQueue::take_empty() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !empty_.empty() || !writer_running_; });
  if (!writer_running_) return nullptr;
  WriteBlock* block = empty_.front();
  empty_.pop_front();
  block->clear();
  return block;
}

void WriteQueue::pass_on(WriteBlock* block) {
  {
    const std::lock_guard lock(mutex_);
    full_.push_back(block);
  }
  changed_.notify_all();
}

void WriteQueue::close_input() {
  {
    const std::lock_guard lock(mutex_);
    input_closed_ = true;
  }
  changed_.notify_all();
}

WriteBlock* WriteQueue::take_full() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !full_.empty() || input_closed_ || stop_; });
  if (stop_ || full_.empty()) return nullptr;
  WriteBlock* block = full_.front();
  full_.pop_front();
  return block;
}

void WriteQueue::give_back(WriteBlock* block) {
  {
    const std::lock_guard lock(mutex_);
    empty_.push_back(block);
  }
  changed_.notify_all();
}

void WriteQueue::mark_writer_running() {
  const std::lock_guard lock(mutex_);
  writer_running_ = true;
}

void WriteQueue::mark_writer_stopped() {
  {
    const std::lock_guard lock(mutex_);
    writer_running_ = false;
  }
  changed_.notify_all();
}

void WriteQueue::stop_writer_and_wait() {
  std::unique_lock lock(mutex_);
  stop_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !writer_running_; });
}

bool WriteQueue::input_closed() {
  const std::lock_guard lock(mutex_);
  return input_closed_;
}

bool WriteQueue::stop_requested() { return stop_.load(); }

}  // namespace osvari
