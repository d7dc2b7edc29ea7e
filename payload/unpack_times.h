// Where one unpacking's time goes, thread by thread: filled only for a caller that asks for it
// (the benchmark), so an ordinary run reads no clock.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace osvari {

inline constexpr std::size_t max_timed_writers = 8;

// Nanoseconds. Each figure is added to by one thread only; read them once every thread is joined.
struct WriterTimes {
  std::int64_t alive = 0;              // the writer's whole loop
  std::int64_t waiting_for_block = 0;  // for a full block it may take
  std::int64_t directories = 0;        // making parent directories, the turn's wait included
  std::int64_t directory_turn = 0;     // of that, waiting while another writer had the turn
  std::int64_t creating = 0;
  std::int64_t writing = 0;
  std::int64_t closing = 0;
};

struct UnpackTimes {
  std::int64_t decoder_walk = 0;               // reading and gathering every entry
  std::int64_t decoder_waiting_for_block = 0;  // of that, for an empty block
  std::int64_t finishing = 0;                  // after the last block, until every writer is done
  std::array<WriterTimes, max_timed_writers> writers{};
};

// Adds the time from its making to its end to `*total`; does nothing for no total.
class TimedSpan {
 public:
  explicit TimedSpan(std::int64_t* total) : total_(total) {
    if (total_ != nullptr) start_ = std::chrono::steady_clock::now();
  }
  ~TimedSpan() {
    if (total_ != nullptr) *total_ += (std::chrono::steady_clock::now() - start_).count();
  }
  TimedSpan(const TimedSpan&) = delete;
  TimedSpan& operator=(const TimedSpan&) = delete;

 private:
  std::int64_t* total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace osvari
