#include "payload/unpack_writer.h"

#include <array>
#include <mutex>
#include <string_view>

#include "base/bounded_wide_string.h"
#include "paths/known_directories.h"
#include "payload/complete_write.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

// The known directory list is one for the process; writers take turns at it.
std::mutex known_directories_turn;

class SystemUnpackTargets final : public UnpackTargets {
 public:
  void make_parent_directory(const wchar_t* target_path) override {
    // A target path fits 4096 code units, so its directory does too.
    if (!directory_.assign(target_path)) return;
    const std::size_t last = directory_.view().find_last_of(L'\\');
    if (last == std::wstring_view::npos || last == 0) return;
    directory_.truncate(last);
    std::unique_lock turn(known_directories_turn, std::try_to_lock);
    if (!turn.owns_lock()) {
      const TimedSpan waiting(turn_wait_);
      turn.lock();
    }
    ensure_directory_with_ancestors(directory_.c_str());
  }
  bool create(const wchar_t* target_path) override {
    file_ = create_file_for_writing(target_path);
    return file_.is_valid();
  }
  bool write(const unsigned char* data, std::uint32_t length) override {
    return write_completely(data, length, [this](const unsigned char* bytes, std::uint32_t count,
                                                 std::uint32_t& taken) {
      return write_file(file_.get(), bytes, count, taken);
    });
  }
  std::uint32_t error_code() override { return last_error(); }
  void close() override { file_.reset(); }
  void time_waits_for_others(std::int64_t* total) override { turn_wait_ = total; }

 private:
  std::int64_t* turn_wait_ = nullptr;
  BoundedWideString<4096> directory_;
  UniqueFileHandle file_;
};

UnpackFailure failure_at(UnpackFailure::Kind kind, const FilePiece& piece, WriteQueue& queue) {
  queue.record_failure(piece.entry);
  return UnpackFailure::at(kind, piece.entry);
}

// The pieces of one block in order; the failure of the first one that fails.
UnpackFailure write_block(const WriteBlock& block, WriteQueue& queue, UnpackTargets& targets, WriterTimes* times,
                          bool& stopped) {
  const auto timed = [times](std::int64_t WriterTimes::*figure) { return times == nullptr ? nullptr : &(times->*figure); };
  for (const FilePiece& piece : block.pieces) {
    if (queue.stop_requested()) {
      stopped = true;
      return {};
    }
    // Another writer failed at an earlier entry: that one is reported, and this one's
    // remaining entries are of no use.
    if (queue.failed_before(piece.entry)) return {};
    if (piece.opens) {
      {
        const TimedSpan making(timed(&WriterTimes::directories));
        targets.make_parent_directory(block.path_of(piece));
      }
      const TimedSpan creating(timed(&WriterTimes::creating));
      if (!targets.create(block.path_of(piece))) {
        UnpackFailure failure = failure_at(UnpackFailure::Kind::open, piece, queue);
        failure.path = block.path_of(piece);
        return failure;
      }
    }
    if (piece.length > 0) {
      const TimedSpan writing(timed(&WriterTimes::writing));
      if (!targets.write(block.bytes.get() + piece.bytes_start, static_cast<std::uint32_t>(piece.length))) {
        const std::uint32_t code = targets.error_code();
        UnpackFailure failure = failure_at(UnpackFailure::Kind::write, piece, queue);
        failure.code = code;
        return failure;
      }
    }
    if (piece.closes) {
      const TimedSpan closing(timed(&WriterTimes::closing));
      targets.close();
    }
  }
  return {};
}

}  // namespace

std::span<UnpackTargets* const> system_unpack_targets() {
  static std::array<SystemUnpackTargets, unpack_writer_count> targets;
  static const std::array<UnpackTargets*, unpack_writer_count> writers = [] {
    std::array<UnpackTargets*, unpack_writer_count> pointers{};
    for (std::size_t i = 0; i < unpack_writer_count; ++i) pointers[i] = &targets[i];
    return pointers;
  }();
  return writers;
}

std::unique_ptr<UnpackTargets> new_system_unpack_targets() { return std::make_unique<SystemUnpackTargets>(); }

UnpackFailure write_blocks(WriteQueue& queue, UnpackTargets& targets, WriterId writer) {
  WriterTimes* times = queue.writer_times(writer);
  const TimedSpan alive(times == nullptr ? nullptr : &times->alive);
  targets.time_waits_for_others(times == nullptr ? nullptr : &times->directory_turn);
  UnpackFailure failure;
  bool stopped = false;
  while (WriteBlock* block = queue.take_full(writer)) {
    failure = write_block(*block, queue, targets, times, stopped);
    if (!failure.failed() && !stopped) queue.count_written(block->used);
    queue.give_back(block);
    if (failure.failed() || stopped) break;
  }
  // The file being written lets go of the unpack directory before anyone removes it.
  targets.close();
  if (!failure.failed() && (stopped || queue.stop_requested())) failure.kind = UnpackFailure::Kind::stopped;
  return failure;
}

}  // namespace osvari
