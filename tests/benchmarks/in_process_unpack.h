// The launcher's own unpack code (decoder, write queue, writers) run inside the benchmark over a
// payload, timed thread by thread: where the launcher's unpack time goes, and how it changes
// with the number of writers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "payload/unpack_times.h"

namespace osvari::benchmark {

struct TimedUnpack {
  double seconds = 0;           // from opening the data to the last writer done
  double checksum_seconds = 0;  // decoding on to the frame's end, which verifies its checksum
  UnpackTimes times;
  std::size_t writers = 0;
};

// Unpacks `attached_data` below `directory` (which must not exist yet) with `writers` writers.
TimedUnpack unpack_in_process(const std::string& attached_data, const std::wstring& directory, std::size_t writers);

// One line per thread: its time, and of it the waits and each kind of work.
void print_where_the_time_goes(const TimedUnpack& unpack);

// The run whose time is the median of `runs`.
const TimedUnpack& median_run(const std::vector<TimedUnpack>& runs);

}  // namespace osvari::benchmark
