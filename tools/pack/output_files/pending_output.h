// An output file that appears only when complete: written beside the target under a temporary
// name and renamed over it at the end; removed again if anything fails before that.
#pragma once

#include <filesystem>
#include <fstream>
#include <string_view>

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
  // Closes the stream, so that the temporary file can be replaced or changed by other means.
  void close();
  // Closes the file if still open and renames it over the target; throws PackError on failure.
  void commit();

 private:
  [[noreturn]] void fail(const char* what) const;

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::ofstream stream_;
  bool committed_ = false;
};

}  // namespace osvari::pack
