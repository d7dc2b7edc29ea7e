#include "tools/pack/output_files/pending_output.h"

#include <string>
#include <system_error>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

constexpr int temporary_name_attempts = 100;

// "<target>.osvari-pack-partial", then "-2", "-3", ... while something else has the name: what
// is there may be another's file or a link, and is neither written nor removed.
std::filesystem::path temporary_name(const std::filesystem::path& target, int attempt) {
  std::filesystem::path name = target;
  name += ".osvari-pack-partial";
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name;
}

}  // namespace

PendingOutput::PendingOutput(std::filesystem::path target) : target_(std::move(target)) {
  const std::string what_fails = "cannot create " + display_path(target_);
  for (int attempt = 1; attempt <= temporary_name_attempts && !file_; ++attempt) {
    temporary_ = temporary_name(target_, attempt);
    file_ = NewFile::create(temporary_, what_fails);
  }
  if (!file_) fail_bad_input(what_fails + ": every temporary name beside it is taken");
}

PendingOutput::~PendingOutput() {
  if (committed_) return;
  file_.reset();
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

void PendingOutput::fail_writing(const std::string& problem) {
  fail_bad_input("cannot write " + display_path(target_) + ": " + problem);
}

void PendingOutput::write(std::string_view bytes) {
  std::string problem;
  if (!file_ || !file_->write(bytes, problem)) fail_writing(problem.empty() ? "the file is closed" : problem);
}

void PendingOutput::close() {
  if (!file_) return;
  std::string problem;
  const bool closed = file_->close(problem);
  file_.reset();
  if (!closed) fail_writing(problem);
}

void PendingOutput::commit() {
  close();
  std::error_code error;
  std::filesystem::rename(temporary_, target_, error);
  if (error) fail_writing(error.message());
  committed_ = true;
}

}  // namespace osvari::pack
