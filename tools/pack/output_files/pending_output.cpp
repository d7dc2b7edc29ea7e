#include "tools/pack/output_files/pending_output.h"

#include <cerrno>
#include <system_error>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {

PendingOutput::PendingOutput(std::filesystem::path target) : target_(std::move(target)) {
  temporary_ = target_;
  temporary_ += ".osvari-pack-partial";
  errno = 0;
  stream_.open(temporary_, std::ios::binary | std::ios::trunc);
  if (!stream_) fail("cannot create");
}

PendingOutput::~PendingOutput() {
  if (committed_) return;
  stream_.close();
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

// File streams leave errno as the failed system call set it.
void PendingOutput::fail(const char* what) const {
  const std::error_code error = errno != 0 ? std::error_code(errno, std::generic_category())
                                           : std::make_error_code(std::errc::io_error);
  fail_bad_input(std::string(what) + " " + display_path(target_) + ": " + error.message());
}

void PendingOutput::write(std::string_view bytes) {
  errno = 0;
  stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream_) fail("cannot write");
}

void PendingOutput::close() {
  if (!stream_.is_open()) return;
  errno = 0;
  stream_.close();
  if (!stream_) fail("cannot write");
}

void PendingOutput::commit() {
  close();
  std::error_code error;
  std::filesystem::rename(temporary_, target_, error);
  if (error) fail_bad_input("cannot write " + display_path(target_) + ": " + error.message());
  committed_ = true;
}

}  // namespace osvari::pack
