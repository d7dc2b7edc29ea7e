// An output file that appears only when complete: written beside the target, in the target's
// folder held open, under a temporary name nothing had before, and renamed over the target at
// the end; removed again if anything fails before that.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "tools/pack/output_files/held_folder.h"

namespace osvari::pack {

class PendingOutput {
 public:
  // Throws PackError (bad input) when the target's folder cannot be opened or the temporary file
  // cannot be created.
  explicit PendingOutput(std::filesystem::path target);
  // The same, through `folder`, held already: the target's folder.
  PendingOutput(std::filesystem::path target, std::unique_ptr<HeldFolder> folder);
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  const std::filesystem::path& temporary_path() const { return temporary_; }
  void write(std::string_view bytes);  // throws PackError on a write failure
  // Lets whoever may read the output run it, through the open file, never through a name.
  void allow_execution();
  // Closes the file and renames it over the target (on Windows by the file's own handle);
  // throws PackError on failure, and when something else has taken the temporary name.
  void commit();

 private:
  [[noreturn]] void fail_writing(const std::string& problem);

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::unique_ptr<HeldFolder> folder_;
  std::unique_ptr<HeldFile> file_;
};

}  // namespace osvari::pack
