// The decoding side of unpacking: gathers each file's decoded contents into the write queue's
// blocks, small files whole, and runs the writer on a thread of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <thread>

#include "payload/unpack_failure.h"
#include "payload/unpack_writer.h"
#include "payload/write_queue.h"

namespace osvari {

class UnpackPipeline {
 public:
  // Starts the writer over `queue` (reset by the caller) and `targets`.
  UnpackPipeline(WriteQueue& queue, UnpackTargets& targets);
  // Finishes the writer if finish() was not called.
  ~UnpackPipeline();
  UnpackPipeline(const UnpackPipeline&) = delete;
  UnpackPipeline& operator=(const UnpackPipeline&) = delete;

  // Starts the next file. False once the writer has stopped: finish() then tells why.
  bool begin_file(std::wstring_view target_path, std::uint64_t size, std::uint64_t entry);
  // Room for up to `wanted` (at least 1) further bytes of the file; empty once the writer has
  // stopped.
  std::span<unsigned char> room(std::uint64_t wanted);
  // The first `count` bytes of the room now hold contents.
  void commit(std::size_t count);
  void end_file();

  // Passes on what is gathered, waits for the writer and joins it. The writer's failure if it
  // met one (it comes before anything the decoder did not pass on); otherwise `decoder_failure`.
  UnpackFailure finish(UnpackFailure decoder_failure = {});

 private:
  bool next_block();
  FilePiece& current_piece() { return block_->pieces.back(); }

  WriteQueue& queue_;
  WriteBlock* block_ = nullptr;
  bool file_open_in_block_ = false;  // the block's last piece belongs to the file being gathered
  std::wstring_view path_;
  std::uint64_t entry_ = 0;
  UnpackFailure writer_failure_;
  std::thread writer_;
};

}  // namespace osvari
