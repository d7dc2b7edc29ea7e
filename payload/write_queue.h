// Decoded contents on their way from the decoding thread to the writing threads: a fixed set of
// blocks, each holding whole small files or a piece of a large one, so memory stays the same
// whatever the attached data holds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "payload/unpack_times.h"

namespace osvari {

inline constexpr std::size_t write_block_bytes = 1 << 20;
inline constexpr std::size_t write_block_count = 6;
inline constexpr std::size_t pieces_per_block = 1024;
inline constexpr std::size_t path_units_per_block = 128 * 1024;

// Contents of one file, or a part of them, in a block.
struct FilePiece {
  std::size_t path_start = 0;   // in the block's paths, zero-terminated
  std::size_t bytes_start = 0;  // in the block's bytes
  std::size_t length = 0;
  std::uint64_t entry = 0;  // the entry's place in the stream, from 0
  bool opens = false;       // the file's first piece: it is created before this piece is written
  bool closes = false;      // the file's last piece: it is closed after it
};

struct WriteBlock {
  std::vector<FilePiece> pieces;
  std::wstring paths;
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t used = 0;

  [[nodiscard]] const wchar_t* path_of(const FilePiece& piece) const { return paths.c_str() + piece.path_start; }
  // The block goes on with the file the block before it left open.
  [[nodiscard]] bool continues_a_file() const { return !pieces.empty() && !pieces.front().opens; }
  // The block's last file goes on in the next block.
  [[nodiscard]] bool leaves_a_file_open() const { return !pieces.empty() && !pieces.back().closes; }
  void clear() {
    pieces.clear();
    paths.clear();
    used = 0;
  }
};

using WriterId = std::size_t;

// Blocks go round: the decoder takes an empty one, fills it and passes it on full; writers take
// full ones in the order they were passed on and give them back empty. A block that goes on with
// a file left open goes to the writer holding that file. Every wait ends when the other side has
// finished or failed, so no thread can wait for another for ever.
class WriteQueue {
 public:
  // Allocates every block now; false when memory runs out (reset() then fails again).
  bool reset();

  // Decoder side. An empty block to fill; null once a writer has failed or none runs.
  WriteBlock* take_empty();
  void pass_on(WriteBlock* block);
  // No more blocks will come.
  void close_input();

  // Writer side. The next full block for `writer`; null once the input is closed and all is
  // taken, when a writer has failed, or when a stop was requested.
  WriteBlock* take_full(WriterId writer);
  void give_back(WriteBlock* block);
  // A writer failed at `entry`: no block is handed out any more, and the writers still busy go
  // on only with the entries before the earliest failure.
  void record_failure(std::uint64_t entry);
  // True when a writer failed at an entry before `entry`.
  bool failed_before(std::uint64_t entry);
  // `count` writers have left their loop and hold no file open.
  void mark_writers_stopped(std::size_t count = 1);

  // Any thread: asks the writers to stop after the piece each is writing, and waits until all
  // have stopped (at once when none is running). A stop stays requested for the life of the queue.
  void stop_writers_and_wait();
  bool stop_requested();

  // True once the decoder has passed on its last block.
  bool input_closed();

  // Marks `count` writers as running; called before their threads start.
  void mark_writers_running(std::size_t count);

  // Where the next unpackings' time goes is added to `times` (none: not measured); writers past
  // the times' room are not measured.
  void measure_times(UnpackTimes* times) { times_ = times; }
  [[nodiscard]] UnpackTimes* times() const { return times_; }
  [[nodiscard]] WriterTimes* writer_times(WriterId writer) const {
    return times_ != nullptr && writer < times_->writers.size() ? &times_->writers[writer] : nullptr;
  }

  // Called on the decoding thread after each block it passes on (null: nothing is called), for a
  // caller that looks at the clock now and then without a thread of its own.
  void call_after_each_block(void (*hook)()) { after_each_block_ = hook; }

  // Bytes of file contents the writers have written since the last reset(), for a progress
  // window's thread; a writer adds each block's bytes once it has written them.
  void count_written(std::size_t bytes) { bytes_written_.fetch_add(bytes, std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t bytes_written() const { return bytes_written_.load(std::memory_order_relaxed); }

 private:
  static constexpr WriterId nobody = std::numeric_limits<WriterId>::max();
  static constexpr std::uint64_t no_failure = std::numeric_limits<std::uint64_t>::max();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<WriteBlock> blocks_;
  std::deque<WriteBlock*> empty_;
  std::deque<WriteBlock*> full_;
  bool input_closed_ = false;
  std::size_t writers_running_ = 0;
  WriterId holder_of_open_file_ = nobody;
  std::atomic<std::uint64_t> earliest_failure_{no_failure};
  std::atomic<bool> stop_{false};
  UnpackTimes* times_ = nullptr;
  void (*after_each_block_)() = nullptr;
  std::atomic<std::uint64_t> bytes_written_{0};
};

}  // namespace osvari
