// The writing side of unpacking: creates the files the decoder passes on and writes their
// contents, one system call per piece, on as many threads as there are writers.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "payload/unpack_failure.h"
#include "payload/write_queue.h"

namespace osvari {

// What one writer asks of the file system, from its own thread. Writers may make the same
// directory at the same time.
class UnpackTargets {
 public:
  virtual ~UnpackTargets() = default;
  // Makes the directory that will hold `target_path` exist as far as it can; one that still
  // does not exist shows up as a failure to create the file.
  virtual void make_parent_directory(const wchar_t* target_path) = 0;
  // Creates or truncates the file and keeps it open for write() and close().
  virtual bool create(const wchar_t* target_path) = 0;
  // Writes all `length` bytes to the open file; false on failure, with error_code() telling why.
  virtual bool write(const unsigned char* data, std::uint32_t length) = 0;
  virtual std::uint32_t error_code() = 0;
  virtual void close() = 0;
  // Adds the time spent waiting for another writer's use of shared state to `*total` from now
  // on (none: not measured).
  virtual void time_waits_for_others(std::int64_t* total) { (void)total; }
};

// Creating a file waits on the system most of its time, so files created side by side cost less
// each; under Wine a third writer still gained a little over two.
inline constexpr std::size_t unpack_writer_count = 3;

// The bindings that create and write real files (CreateFileW with CREATE_ALWAYS, WriteFile),
// making directories through the known directory list, one per writer.
std::span<UnpackTargets* const> system_unpack_targets();
// One more such binding, for a caller that runs a number of writers of its own choosing.
std::unique_ptr<UnpackTargets> new_system_unpack_targets();

// One writer's loop: takes full blocks from `queue` until the input ends, a stop is requested
// or a writer fails, which ends the loop with the file it was writing closed. After another
// writer's failure it finishes only the entries before that one, so that among all writers'
// failures the earliest entry's is the one a serial unpacking would have met first.
UnpackFailure write_blocks(WriteQueue& queue, UnpackTargets& targets, WriterId writer);

}  // namespace osvari
