// The writing side of unpacking: creates the files the decoder passes on, in stream order, and
// writes their contents, one system call per piece.
#pragma once

#include <cstdint>

#include "payload/unpack_failure.h"
#include "payload/write_queue.h"

namespace osvari {

// What the writer asks of the file system. One writer uses it at a time, from one thread.
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
};

// The binding that creates and writes real files (CreateFileW with CREATE_ALWAYS, WriteFile),
// making directories through the known directory list.
UnpackTargets& system_unpack_targets();

// The writer's loop: takes full blocks from `queue` until the input ends, a stop is requested
// or something fails, which ends the loop with the file it was writing closed. The failure, if
// any, is the first in stream order, since blocks are written in the order they came.
UnpackFailure write_blocks(WriteQueue& queue, UnpackTargets& targets);

}  // namespace osvari
