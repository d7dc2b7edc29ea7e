#include "tools/pack/output_files/pending_output.h"

#include <string>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

constexpr int temporary_name_attempts = 100;

// "<target>.osvari-pack-partial", then "-2", "-3", ... while something else has the name: what
// is there may be another's file or a link, and is neither written nor removed.
std::filesystem::path temporary_name(const std::filesystem::path& target, int attempt) {
  std::filesystem::path name = target.filename();
  name += ".osvari-pack-partial";
  if (attempt > 1) {
    name += "-";
    name += std::to_string(attempt);
  }
  return name;
}

std::unique_ptr<HeldFolder> folder_of(const std::filesystem::path& target) {
  FolderStep held = hold_folder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
  if (!held.folder) fail_bad_input("cannot create " + display_path(target) + ": " + held.problem);
  return std::move(held.folder);
}

}  // namespace

PendingOutput::PendingOutput(std::filesystem::path target) : PendingOutput(target, folder_of(target)) {}

PendingOutput::PendingOutput(std::filesystem::path target, std::unique_ptr<HeldFolder> folder)
    : target_(std::move(target)), folder_(std::move(folder)) {
  const std::string what_fails = "cannot create " + display_path(target_);
  for (int attempt = 1; attempt <= temporary_name_attempts; ++attempt) {
    const std::filesystem::path name = temporary_name(target_, attempt);
    FileStep step = folder_->create_file(name);
    if (step.outcome == StepOutcome::done) {
      file_ = std::move(step.file);
      temporary_ = target_.parent_path() / name;
      return;
    }
    if (step.outcome != StepOutcome::exists) fail_bad_input(what_fails + ": " + step.problem);
  }
  fail_bad_input(what_fails + ": every temporary name beside it is taken");
}

PendingOutput::~PendingOutput() {
  if (file_) folder_->discard(std::move(file_), temporary_.filename());
}

void PendingOutput::fail_writing(const std::string& problem) {
  fail_bad_input("cannot write " + display_path(target_) + ": " + problem);
}

void PendingOutput::write(std::string_view bytes) {
  std::string problem;
  if (!file_) fail_writing("the file is closed");
  if (!file_->write(bytes, problem)) fail_writing(problem);
}

void PendingOutput::allow_execution() {
  if (file_) file_->allow_execution();
}

void PendingOutput::commit() {
  if (!file_) fail_writing("the file is closed");
  std::string problem;
  if (!folder_->put_in_place(std::move(file_), temporary_.filename(), target_.filename(), problem)) {
    fail_writing(problem);
  }
}

}  // namespace osvari::pack
