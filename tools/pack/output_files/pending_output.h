// An output file that appears only when complete: written beside the target under a temporary
// name nothing had before, and renamed over the target at the end; removed again if anything
// fails before that.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "tools/pack/output_files/new_file.h"

namespace osvari::pack {

class PendingOutput {
 public:
  // Throws PackError (bad input) when the temporary file cannot be created.
  explicit PendingOutput(std::filesystem::path target);
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  const std::filesystem::path& temporary_path() const { return temporary_; }
  void write(std::string_view bytes);  // throws PackError on a write failure
  // Closes the file, so that the temporary file can be changed by other means.
  void close();
  // Closes the file if still open and renames it over the target; throws PackError on failure.
  void commit();

 private:
  [[noreturn]] void fail_writing(const std::string& problem);

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::optional<NewFile> file_;
  bool committed_ = false;
};

}  // namespace osvari::pack
