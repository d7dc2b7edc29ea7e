#include "payload/unpack_writer.h"

#include <string_view>

#include "base/bounded_wide_string.h"
#include "paths/known_directories.h"
#include "payload/complete_write.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace osvari {
namespace {

class SystemUnpackTargets final : public UnpackTargets {
 public:
  void make_parent_directory(const wchar_t* target_path) override {
    // A target path fits 4096 code units, so its directory does too.
    if (!directory_.assign(target_path)) return;
    const std::size_t last = directory_.view().find_last_of(L'\\');
    if (last == std::wstring_view::npos || last == 0) return;
    directory_.truncate(last);
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

 private:
  BoundedWideString<4096> directory_;
  UniqueFileHandle file_;
};

// The pieces of one block in order; the failure of the first one that fails.
UnpackFailure write_block(const WriteBlock& block, WriteQueue& queue, UnpackTargets& targets, bool& stopped) {
  for (const FilePiece& piece : block.pieces) {
    if (queue.stop_requested()) {
      stopped = true;
      return {};
    }
    if (piece.opens) {
      targets.make_parent_directory(block.path_of(piece));
      if (!targets.create(block.path_of(piece))) {
        UnpackFailure failure = UnpackFailure::at(UnpackFailure::Kind::open, piece.entry);
        failure.path = block.path_of(piece);
        return failure;
      }
    }
    if (piece.length > 0 &&
        !targets.write(block.bytes.get() + piece.bytes_start, static_cast<std::uint32_t>(piece.length))) {
      UnpackFailure failure = UnpackFailure::at(UnpackFailure::Kind::write, piece.entry);
      failure.code = targets.error_code();
      return failure;
    }
    if (piece.closes) targets.close();
  }
  return {};
}

}  // namespace

UnpackTargets& system_unpack_targets() {
  static SystemUnpackTargets targets;
  return targets;
}

UnpackFailure write_blocks(WriteQueue& queue, UnpackTargets& targets) {
  UnpackFailure failure;
  bool stopped = false;
  while (WriteBlock* block = queue.take_full()) {
    failure = write_block(*block, queue, targets, stopped);
    queue.give_back(block);
    if (failure.failed() || stopped) break;
  }
  // The file being written lets go of the unpack directory before anyone removes it.
  targets.close();
  if (!failure.failed() && (stopped || queue.stop_requested())) failure.kind = UnpackFailure::Kind::stopped;
  return failure;
}

}  // namespace osvari
