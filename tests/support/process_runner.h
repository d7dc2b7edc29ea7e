// Runs a real Windows process with captured standard streams and its full 32-bit exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace osvari::testing {

struct ProcessResult {
  std::string standard_output;
  std::string standard_error;
  std::uint32_t exit_code = 0;
  bool timed_out = false;
};

struct ProcessOptions {
  // Variables to set (a value) or remove (no value) in the child's copy of this environment.
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> environment{};
  std::wstring current_directory{};
  // Standard input reads this file; NUL when empty.
  std::wstring input_file{};
  std::uint32_t timeout_ms = 60'000;
  // When set, the process is created suspended and this runs with its id before it starts.
  std::function<void(std::uint32_t process_id)> before_start{};
  // When set, the process reads these bytes from a pipe as its standard input, then end of
  // file, in place of `input_file`.
  std::optional<std::string> standard_input{};
};

// Starts `program` with the full command line `command_line` (argv[0] included), waits for it
// and returns what it wrote and its exit code. A process still running at the time-out is
// terminated and reported as timed out.
ProcessResult run_process(const std::wstring& program, const std::wstring& command_line,
                          const ProcessOptions& options = {});

// `run_process` with a command line made of the quoted program path and `arguments`, each
// already in command-line form.
ProcessResult run_program(const std::wstring& program, const std::vector<std::wstring>& arguments = {},
                          const ProcessOptions& options = {});

// The standard streams turn "\n" into "\r\n"; tests compare with plain line breaks.
std::string without_carriage_returns(std::string text);

}  // namespace osvari::testing
