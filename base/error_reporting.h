// The launcher's failure reports: one line on a standard stream, then the end of the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace osvari {

inline constexpr int foreseen_failure_exit_code = 2;

// The message and one line break on standard output, then exit code 2.
[[noreturn]] void fatal_error(std::string_view message);

// "%s ([Error %ld] %s)\n" on standard error: the message, the code as a signed 32-bit
// number and the system's text for it, made one line. The caller ends the process.
void report_system_error(std::string_view message, std::uint32_t code);

// report_system_error, then exit code 2.
[[noreturn]] void fatal_system_error(std::string_view message, std::uint32_t code);

// The same with `next_line`, when not empty, as one more line on standard error after the report.
[[noreturn]] void fatal_system_error(std::string_view message, std::uint32_t code, std::string_view next_line);

// "Error, couldn't runtime expand spec '%ls'.\n" on standard error, then abort.
[[noreturn]] void fatal_expand_error(std::wstring_view spec);

// "Error, failed to open '%ls' for writing.\n" on standard error, then exit code 2.
[[noreturn]] void fatal_open_for_writing(std::wstring_view path);

// Every internal limit ends the run the same way: one line naming what did not fit, exit code 2.
[[noreturn]] void fail_internal_limit(std::string_view what);

// An action that runs once, on the first failure exit after it was set (fatal_error,
// fatal_system_error, fatal_open_for_writing, internal limits, fatal_expand_error), after the
// message and before the process ends. A failure inside the action ends the process without
// running it again. Null clears it.
void set_action_before_failure_exit(void (*action)());

// Where the failure line also goes, for a person who cannot see the streams: called once, on the
// first failure exit after it was set, with the lines as written (without the last line break), after
// the action before failure exit and before the process ends. Null clears it.
void set_failure_notice(void (*notice)(std::string_view line));

// How a wide argument appears in a message line: each code unit below 256 as one byte,
// the text cut at the first code unit of 256 or above.
std::string narrow_for_message(std::wstring_view text);

// `text` without its line breaks: trailing ones dropped, each inner run of them one space.
std::string as_one_line(std::string_view text);

}  // namespace osvari
