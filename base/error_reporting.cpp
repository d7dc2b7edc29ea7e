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

// Taken out before it runs, so a failure inside it cannot start it again.
void run_action_before_failure_exit() {
  if (void (*action)() = action_before_failure_exit.exchange(nullptr)) action();
}

void write_line(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);  // standard error is fully buffered when redirected
}

[[noreturn]] void exit_with_foreseen_failure() {
  std::fflush(nullptr);
  run_action_before_failure_exit();
  std::exit(foreseen_failure_exit_code);
}

}  // namespace

void set_action_before_failure_exit(void (*action)()) { action_before_failure_exit.store(action); }

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
  exit_with_foreseen_failure();
}

void report_system_error(std::string_view message, std::uint32_t code) {
  std::string line(message);
  line += " ([Error ";
  line += std::to_string(static_cast<std::int32_t>(code));
  line += "] ";
  // System texts end in "\r\n" and a few span lines; the report stays one line.
  line += as_one_line(system_message_text(code));
  line += ")\n";
  write_line(stderr, line);
}

void fatal_system_error(std::string_view message, std::uint32_t code) {
  report_system_error(message, code);
  exit_with_foreseen_failure();
}

void fatal_system_error(std::string_view message, std::uint32_t code, std::string_view next_line) {
  report_system_error(message, code);
  if (!next_line.empty()) write_line(stderr, std::string(next_line) + '\n');
  exit_with_foreseen_failure();
}

void fatal_expand_error(std::wstring_view spec) {
  write_line(stderr, "Error, couldn't runtime expand spec '" + narrow_for_message(spec) + "'.\n");
  run_action_before_failure_exit();
  abort_quietly();
}

void fatal_open_for_writing(std::wstring_view path) {
  write_line(stderr, "Error, failed to open '" + narrow_for_message(path) + "' for writing.\n");
  exit_with_foreseen_failure();
}

void fail_internal_limit(std::string_view what) {
  fatal_error("Error, internal limit reached: " + std::string(what) + ".");
}

}  // namespace osvari
