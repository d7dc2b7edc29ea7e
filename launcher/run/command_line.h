// The child's command line: the user's arguments re-quoted, with argument 0 the launcher's own path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/bounded_wide_string.h"

namespace osvari {

// CreateProcessW takes at most 32767 code units including the terminator; a longer line is
// cut (under Wine silently, by its last unit), so the buffer stops there.
inline constexpr std::size_t child_command_line_capacity = 32767;
using ChildCommandLine = BoundedWideString<child_command_line_capacity>;

// True when the argument needs quotes to come back as one argument from the child's parse.
bool needs_quotes(std::wstring_view argument);

// Appends `argument` so that CommandLineToArgvW and the runtime's parse give it back unchanged:
// as it is when it holds no blank, tab, line feed, vertical tab or double quote, otherwise in
// double quotes with backslashes doubled where they stand before a quote. An empty argument is
// written as "" so that it keeps its place. Returns false, leaving `target` as it was, when the
// text does not fit.
template <std::size_t Capacity>
[[nodiscard]] bool append_quoted_argument(BoundedWideString<Capacity>& target, std::wstring_view argument) {
  const std::size_t original_size = target.size();
  auto append_backslashes = [&target](std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (!target.append(L'\\')) return false;
    }
    return true;
  };
  auto append_all = [&]() {
    if (!needs_quotes(argument)) return target.append(argument);
    if (!target.append(L'"')) return false;
    std::size_t position = 0;
    while (position < argument.size()) {
      std::size_t backslashes = 0;
      while (position + backslashes < argument.size() && argument[position + backslashes] == L'\\') ++backslashes;
      position += backslashes;
      if (position == argument.size()) {
        // The closing quote follows: each backslash must be doubled to stay literal.
        if (!append_backslashes(2 * backslashes)) return false;
        break;
      }
      const wchar_t unit = argument[position++];
      if (unit == L'"') {
        if (!append_backslashes(2 * backslashes + 1)) return false;
      } else if (!append_backslashes(backslashes)) {
        return false;
      }
      if (!target.append(unit)) return false;
    }
    return target.append(L'"');
  };
  if (append_all()) return true;
  target.truncate(original_size);
  return false;
}

enum class CommandLineOutcome { built, split_failed, does_not_fit };

struct CommandLineResult {
  CommandLineOutcome outcome;
  std::uint32_t split_error;  // why CommandLineToArgvW failed, for split_failed
};

// Splits `process_command_line` with CommandLineToArgvW and writes its arguments into `target`,
// blank-separated and quoted, with argument 0 replaced by `module_path`.
CommandLineResult build_command_line(const wchar_t* process_command_line, std::wstring_view module_path,
                                     ChildCommandLine& target);

// What follows the program name in `command_line`, exactly as it stands, blanks included. The
// name runs to the first blank or tab outside double quotes, each quote opening or closing, as
// the C runtime's parse takes it, which most programs' argv comes from. (CommandLineToArgvW
// ends a quoted name at its closing quote instead; the two differ only for names glued to text
// after a quote, which no shell writes.)
std::wstring_view command_line_tail(std::wstring_view command_line);

// Writes `program_path` in double quotes, then `tail` as it is: with a blank between them when
// the tail does not begin with one. Returns false, leaving `target` empty, when it does not fit.
bool build_program_command_line(std::wstring_view program_path, std::wstring_view tail, ChildCommandLine& target);

// The process-wide command line buffer for the child.
ChildCommandLine& child_command_line();

// Fills child_command_line() from this process's command line and own module path. Ends the
// process when the command line cannot be split (exit code 2, "Error, couldn't launch child")
// or does not fit (internal limit).
void build_child_command_line();

// Fills child_command_line() for the unpacked program at `program_path`, with this process's
// command-line tail. Ends the process at the internal limit when it does not fit.
void build_program_child_command_line(std::wstring_view program_path);

}  // namespace osvari
