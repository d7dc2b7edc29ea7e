#include "tools/pack/command_line/pack_feedback.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace osvari::pack {
namespace {

std::string one_decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string human_size(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(units)) {
    value /= 1024;
    ++unit;
  }
  return one_decimal(value) + " " + units[unit];
}

std::string summary_line(const PackFigures& figures) {
  const double ratio = figures.input_bytes == 0 ? 0
                                                : 100.0 * static_cast<double>(figures.attached_data_bytes) /
                                                      static_cast<double>(figures.input_bytes);
  std::string line = std::to_string(figures.entries) + (figures.entries == 1 ? " entry, " : " entries, ") +
                     human_size(figures.input_bytes) + " in, " + human_size(figures.attached_data_bytes) +
                     " compressed (" + one_decimal(ratio) + "%), ";
  if (figures.executable_bytes) line += "executable " + human_size(*figures.executable_bytes) + ", ";
  return line + one_decimal(figures.seconds) + " s";
}

PackFeedback::PackFeedback(std::ostream& out, bool terminal, bool quiet, std::uint64_t entries,
                           std::uint64_t input_bytes)
    : out_(out), show_progress_(terminal && !quiet), quiet_(quiet) {
  figures_.entries = entries;
  figures_.input_bytes = input_bytes;
}

PackFeedback::~PackFeedback() {
  if (!finished_ && shown_percent_ >= 0) out_ << "\r\033[K" << std::flush;
}

void PackFeedback::input_read(std::uint64_t bytes) {
  read_ += bytes;
  if (!show_progress_) return;
  const int percent = figures_.input_bytes == 0 ? 100 : static_cast<int>(100 * read_ / figures_.input_bytes);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  out_ << "\rosvari-pack: packing " << percent << "% of " << human_size(figures_.input_bytes) << std::flush;
}

void PackFeedback::finish() {
  finished_ = true;
  figures_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (shown_percent_ >= 0) out_ << "\r\033[K";  // the progress line gives way to the summary
  if (!quiet_) out_ << "osvari-pack: " << summary_line(figures_) << '\n';
  out_.flush();
}

bool standard_error_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace osvari::pack
