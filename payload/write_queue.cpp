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
  holder_of_open_file_ = nobody;
  earliest_failure_ = no_failure;
  bytes_written_ = 0;
  return true;
}

WriteBlock* WriteQueue::take_empty() {
  std::unique_lock lock(mutex_);
  {
    const TimedSpan waiting(times_ == nullptr ? nullptr : &times_->decoder_waiting_for_block);
    changed_.wait(lock, [this] { return !empty_.empty() || writers_running_ == 0 || earliest_failure_ != no_failure; });
  }
  if (writers_running_ == 0 || earliest_failure_ != no_failure) return nullptr;
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
  if (after_each_block_ != nullptr) after_each_block_();
}

void WriteQueue::close_input() {
  {
    const std::lock_guard lock(mutex_);
    input_closed_ = true;
  }
  changed_.notify_all();
}

WriteBlock* WriteQueue::take_full(WriterId writer) {
  std::unique_lock lock(mutex_);
  const auto mine = [&] { return !full_.front()->continues_a_file() || holder_of_open_file_ == writer; };
  {
    WriterTimes* times = writer_times(writer);
    const TimedSpan waiting(times == nullptr ? nullptr : &times->waiting_for_block);
    changed_.wait(lock, [&] {
      return (!full_.empty() && mine()) || (full_.empty() && input_closed_) || stop_ ||
             earliest_failure_ != no_failure;
    });
  }
  if (stop_ || earliest_failure_ != no_failure || full_.empty()) return nullptr;
  WriteBlock* block = full_.front();
  full_.pop_front();
  if (!block->pieces.empty()) holder_of_open_file_ = block->leaves_a_file_open() ? writer : nobody;
  return block;
}

void WriteQueue::give_back(WriteBlock* block) {
  {
    const std::lock_guard lock(mutex_);
    empty_.push_back(block);
  }
  changed_.notify_all();
}

void WriteQueue::record_failure(std::uint64_t entry) {
  {
    const std::lock_guard lock(mutex_);
    if (entry < earliest_failure_) earliest_failure_ = entry;
  }
  changed_.notify_all();
}

bool WriteQueue::failed_before(std::uint64_t entry) { return earliest_failure_.load() < entry; }

void WriteQueue::mark_writers_running(std::size_t count) {
  const std::lock_guard lock(mutex_);
  writers_running_ += count;
}

void WriteQueue::mark_writers_stopped(std::size_t count) {
  {
    const std::lock_guard lock(mutex_);
    writers_running_ -= count;
  }
  changed_.notify_all();
}

void WriteQueue::stop_writers_and_wait() {
  std::unique_lock lock(mutex_);
  stop_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return writers_running_ == 0; });
}

bool WriteQueue::input_closed() {
  const std::lock_guard lock(mutex_);
  return input_closed_;
}

bool WriteQueue::stop_requested() { return stop_.load(); }

}  // namespace osvari
