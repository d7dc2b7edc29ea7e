// The decoding side of unpacking: gathers each file's decoded contents into the write queue's
// blocks, small files whole, and runs each writer on a thread of its own.
#pragma once

#include <cstdint>
#include <span>
#include <vector>
#include <string_view>
#include <thread>

#include "payload/unpack_failure.h"
#include "payload/unpack_writer.h"
#include "payload/write_queue.h"

namespace osvari {

// The failure to report: the writers' failure at the earliest entry (each comes before anything
// the decoder did not pass on), else a stop, else the decoder's.
UnpackFailure first_failure(std::span<const UnpackFailure> writer_failures, UnpackFailure decoder_failure);

class UnpackPipeline {
 public:
  // Starts one writer over `queue` (reset by the caller) for each of `writers`.
  UnpackPipeline(WriteQueue& queue, std::span<UnpackTargets* const> writers);
  // Finishes the writers if finish() was not called.
  ~UnpackPipeline();
  UnpackPipeline(const UnpackPipeline&) = delete;
  UnpackPipeline& operator=(const UnpackPipeline&) = delete;

  // Starts the next file. False once a writer has failed or all have stopped: finish() then
  // tells why.
  bool begin_file(std::wstring_view target_path, std::uint64_t size, std::uint64_t entry);
  // Room for up to `wanted` (at least 1) further bytes of the file; empty once a writer has
  // failed or all have stopped.
  std::span<unsigned char> room(std::uint64_t wanted);
  // The first `count` bytes of the room now hold contents.
  void commit(std::size_t count);
  void end_file();

  // Passes on what is gathered, waits for the writers and joins them; first_failure of theirs
  // and `decoder_failure`.
  UnpackFailure finish(UnpackFailure decoder_failure = {});

 private:
  bool next_block();
  FilePiece& current_piece() { return block_->pieces.back(); }

  WriteQueue& queue_;
  WriteBlock* block_ = nullptr;
  bool file_open_in_block_ = false;  // the block's last piece belongs to the file being gathered
  std::wstring_view path_;
  std::uint64_t entry_ = 0;
  std::vector<UnpackFailure> writer_failures_;
  std::vector<std::thread> writers_;
};

}  // namespace osvari
