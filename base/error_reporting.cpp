// Writes report lines byte for byte, independently of the runtime's printf variants.
#include "base/error_reporting.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/messages.h"
#include "platform/runtime.h"

namespace osvari {
namespace {

std::atomic<void (*)()> action_before_failure_exit{nullptr};
std::atomic<void (*)(std::string_view)> failure_notice{nullptr};

// Taken out before it runs, so a failure inside it cannot start it again.
void run_action_before_failure_exit() {
  if (void (*action)() = action_before_failure_exit.exchange(nullptr)) action();
}

void write_line(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);  // standard error is fully buffered when redirected
}

// The line as the streams got it, without its line break.
void give_failure_notice(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (void (*notice)(std::string_view) = failure_notice.exchange(nullptr)) notice(line);
}

[[noreturn]] void exit_with_foreseen_failure(std::string_view line) {
  std::fflush(nullptr);
  run_action_before_failure_exit();
  give_failure_notice(line);
  std::exit(foreseen_failure_exit_code);
}

}  // namespace

void set_action_before_failure_exit(void (*action)()) { action_before_failure_exit.store(action); }

void set_failure_notice(void (*notice)(std::string_view line)) { failure_notice.store(notice); }

std::string narrow_for_message(std::wstring_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t unit : text) {
    if (static_cast<unsigned>(unit) >= 256) break;
    narrow.push_back(static_cast<char>(unit));
  }
  return narrow;
}

std::string as_one_line(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  bool in_break = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      in_break = true;
      continue;
    }
    if (in_break && !line.empty()) line.push_back(' ');
    in_break = false;
    line.push_back(c);
  }
  return line;
}

void fatal_error(std::string_view message) {
  std::string line(message);
  line += '\n';
  write_line(stdout, line);
  exit_with_foreseen_failure(line);
}

namespace {

std::string system_error_line(std::string_view message, std::uint32_t code) {
  std::string line(message);
  line += " ([Error ";
  line += std::to_string(static_cast<std::int32_t>(code));
  line += "] ";
  // System texts end in "\r\n" and a few span lines; the report stays one line.
  line += as_one_line(system_message_text(code));
  line += ")\n";
  return line;
}

}  // namespace

void report_system_error(std::string_view message, std::uint32_t code) {
  write_line(stderr, system_error_line(message, code));
}

void fatal_system_error(std::string_view message, std::uint32_t code) {
  const std::string line = system_error_line(message, code);
  write_line(stderr, line);
  exit_with_foreseen_failure(line);
}

void fatal_system_error(std::string_view message, std::uint32_t code, std::string_view next_line) {
  const std::string line = system_error_line(message, code);
  write_line(stderr, line);
  std::string lines = line;
  if (!next_line.empty()) {
    write_line(stderr, std::string(next_line) + '\n');
    lines += std::string(next_line) + '\n';
  }
  exit_with_foreseen_failure(lines);
}

void fatal_expand_error(std::wstring_view spec) {
  const std::string line = "Error, couldn't runtime expand spec '" + narrow_for_message(spec) + "'.\n";
  write_line(stderr, line);
  run_action_before_failure_exit();
  give_failure_notice(line);
  abort_quietly();
}

void fatal_open_for_writing(std::wstring_view path) {
  const std::string line = "Error, failed to open '" + narrow_for_message(path) + "' for writing.\n";
  write_line(stderr, line);
  exit_with_foreseen_failure(line);
}

void fail_internal_limit(std::string_view what) {
  fatal_error("Error, internal limit reached: " + std::string(what) + ".");
}

}  // namespace osvari
