// What osvari-pack tells the user while and after packing: on a terminal a progress line that
// rewrites itself, and in any case (unless quiet) one summary line, on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace osvari::pack {

struct PackFigures {
  std::uint64_t entries = 0;
  std::uint64_t input_bytes = 0;
  std::uint64_t attached_data_bytes = 0;
  std::optional<std::uint64_t> executable_bytes;  // none when only the attached data is written
  double seconds = 0;
};

// "3 entries, 5.2 MiB in, 1.1 MiB compressed (21.2%), executable 1.3 MiB, 0.8 s": the ratio is the
// attached data's to its input alone, the launcher it travels in apart.
std::string summary_line(const PackFigures& figures);

// "512 bytes", "1.5 KiB", "326.4 MiB"
std::string human_size(std::uint64_t bytes);

class PackFeedback {
 public:
  PackFeedback(std::ostream& out, bool terminal, bool quiet, std::uint64_t entries, std::uint64_t input_bytes);
  ~PackFeedback();  // clears a progress line left by a failure, so its message starts a clean line
  PackFeedback(const PackFeedback&) = delete;
  PackFeedback& operator=(const PackFeedback&) = delete;

  void input_read(std::uint64_t bytes);  // progress, shown only on a terminal
  void output_written(std::uint64_t bytes) { figures_.attached_data_bytes += bytes; }
  void executable_written(std::uint64_t bytes) { figures_.executable_bytes = bytes; }
  void finish();  // clears the progress line and prints the summary

 private:
  std::ostream& out_;
  bool show_progress_;
  bool quiet_;
  PackFigures figures_;
  std::uint64_t read_ = 0;
  int shown_percent_ = -1;
  bool finished_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Whether standard error is a terminal.
bool standard_error_is_terminal();

}  // namespace osvari::pack
