#include "launcher/run/command_line.h"

#include "base/error_reporting.h"
#include "launcher/run/child_launch.h"
#include "platform/processes.h"
#include "platform/shell.h"

namespace osvari {

bool needs_quotes(std::wstring_view argument) {
  return argument.empty() || argument.find_first_of(L" \t\n\v\"") != std::wstring_view::npos;
}

CommandLineResult build_command_line(const wchar_t* process_command_line, std::wstring_view module_path,
                                     ChildCommandLine& target) {
  const SplitArguments arguments(process_command_line);
  if (!arguments.ok()) return {CommandLineOutcome::split_failed, arguments.error()};
  target.clear();
  // Argument 0 is written even if the split found none: the child always gets its own path.
  const int count = arguments.count() > 0 ? arguments.count() : 1;
  for (int index = 0; index < count; ++index) {
    // Whatever the user typed as the program name is dropped; the child runs this very file.
    const std::wstring_view argument = index == 0 ? module_path : std::wstring_view(arguments[index]);
    if (index > 0 && !target.append(L' ')) return {CommandLineOutcome::does_not_fit, 0};
    if (!append_quoted_argument(target, argument)) return {CommandLineOutcome::does_not_fit, 0};
  }
  return {CommandLineOutcome::built, 0};
}

std::wstring_view command_line_tail(std::wstring_view command_line) {
  bool quoted = false;
  std::size_t end = 0;
  for (; end < command_line.size(); ++end) {
    const wchar_t unit = command_line[end];
    if (unit == L'"') quoted = !quoted;
    if (!quoted && (unit == L' ' || unit == L'\t')) break;
  }
  return command_line.substr(end);
}

bool build_program_command_line(std::wstring_view program_path, std::wstring_view tail, ChildCommandLine& target) {
  target.clear();
  const bool separated = tail.empty() || tail.front() == L' ' || tail.front() == L'\t';
  const bool built = target.append(L'"') && target.append(program_path) && target.append(L'"') &&
                     (separated || target.append(L' ')) && target.append(tail);
  if (!built) target.clear();
  return built;
}

ChildCommandLine& child_command_line() {
  static ChildCommandLine command_line;
  return command_line;
}

void build_child_command_line() {
  const CommandLineResult result = build_command_line(process_command_line(), own_module_path().view(),
                                                      child_command_line());
  switch (result.outcome) {
    case CommandLineOutcome::built:
      return;
    case CommandLineOutcome::split_failed:
      fatal_system_error("Error, couldn't launch child", result.split_error);
    case CommandLineOutcome::does_not_fit:
      fail_internal_limit("the command line does not fit in 32767 code units");
  }
}

void build_program_child_command_line(std::wstring_view program_path) {
  const wchar_t* own = process_command_line();
  if (!build_program_command_line(program_path, command_line_tail(own != nullptr ? own : L""), child_command_line())) {
    fail_internal_limit("the command line does not fit in 32767 code units");
  }
}

}  // namespace osvari
