#include "payload/unpack_pipeline.h"

#include <algorithm>
#include <system_error>

#include "base/error_reporting.h"

namespace osvari {

UnpackFailure first_failure(std::span<const UnpackFailure> writer_failures, UnpackFailure decoder_failure) {
  const UnpackFailure* earliest = nullptr;
  bool stopped = false;
  for (const UnpackFailure& failure : writer_failures) {
    if (failure.kind == UnpackFailure::Kind::stopped) {
      stopped = true;
    } else if (failure.failed() && (earliest == nullptr || failure.entry < earliest->entry)) {
      earliest = &failure;
    }
  }
  if (earliest != nullptr) return *earliest;
  if (stopped) return UnpackFailure::at(UnpackFailure::Kind::stopped, 0);
  return decoder_failure;
}

UnpackPipeline::UnpackPipeline(WriteQueue& queue, std::span<UnpackTargets* const> writers)
    : queue_(queue), writer_failures_(writers.size()) {
  // All count as running before any starts, so a stop waits for every one of them.
  queue_.mark_writers_running(writers.size());
  writers_.reserve(writers.size());
  for (WriterId writer = 0; writer < writers.size(); ++writer) {
    try {
      writers_.emplace_back([this, writer, targets = writers[writer]] {
        writer_failures_[writer] = write_blocks(queue_, *targets, writer);
        queue_.mark_writers_stopped();
      });
    } catch (const std::system_error&) {
      queue_.mark_writers_stopped(writers.size() - writer);
      // Those already started end with the input, before the failure exit removes their files.
      (void)finish();
      fatal_error("Error, couldn't allocate memory.");
    }
  }
}

UnpackPipeline::~UnpackPipeline() {
  if (!writers_.empty()) (void)finish();
}

bool UnpackPipeline::next_block() {
  if (block_ != nullptr) queue_.pass_on(block_);
  block_ = queue_.take_empty();
  file_open_in_block_ = false;
  return block_ != nullptr;
}

bool UnpackPipeline::begin_file(std::wstring_view target_path, std::uint64_t size, std::uint64_t entry) {
  const std::size_t free_bytes = block_ == nullptr ? 0 : write_block_bytes - block_->used;
  // A file that fits a block is gathered whole in one, so that it is written in one call.
  const bool whole_elsewhere = size <= write_block_bytes && size > free_bytes;
  if (block_ == nullptr || whole_elsewhere || free_bytes == 0 || block_->pieces.size() == pieces_per_block ||
      block_->paths.size() + target_path.size() + 1 > path_units_per_block) {
    if (!next_block()) return false;
  }
  path_ = target_path;
  entry_ = entry;
  const std::size_t path_start = block_->paths.size();
  block_->paths.append(target_path);
  block_->paths.push_back(L'\0');
  block_->pieces.push_back({.path_start = path_start, .bytes_start = block_->used, .entry = entry, .opens = true});
  file_open_in_block_ = true;
  return true;
}

std::span<unsigned char> UnpackPipeline::room(std::uint64_t wanted) {
  if (block_ == nullptr) return {};
  if (block_->used == write_block_bytes || block_->pieces.size() == pieces_per_block ||
      (!file_open_in_block_ && block_->paths.size() + path_.size() + 1 > path_units_per_block)) {
    if (!next_block()) return {};
  }
  if (!file_open_in_block_) {
    // The file goes on in this block: its path travels with it for the writer's reports.
    const std::size_t path_start = block_->paths.size();
    block_->paths.append(path_);
    block_->paths.push_back(L'\0');
    block_->pieces.push_back({.path_start = path_start, .bytes_start = block_->used, .entry = entry_});
    file_open_in_block_ = true;
  }
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, write_block_bytes - block_->used));
  return {block_->bytes.get() + block_->used, length};
}

void UnpackPipeline::commit(std::size_t count) {
  block_->used += count;
  current_piece().length += count;
}

void UnpackPipeline::end_file() {
  if (block_ != nullptr && file_open_in_block_) current_piece().closes = true;
}

UnpackFailure UnpackPipeline::finish(UnpackFailure decoder_failure) {
  if (block_ != nullptr) {
    queue_.pass_on(block_);
    block_ = nullptr;
  }
  queue_.close_input();
  for (std::thread& writer : writers_) writer.join();
  writers_.clear();
  return first_failure(writer_failures_, decoder_failure);
}

}  // namespace osvari
