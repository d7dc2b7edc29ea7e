// Starting the child, the launcher's own executable again or the packed program, and waiting
// for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/bounded_wide_string.h"

namespace osvari {

inline constexpr std::size_t own_module_path_capacity = 4096;
using OwnModulePath = BoundedWideString<own_module_path_capacity>;

// The full path of the running executable, filled on first use and kept. Ends the run at an
// internal limit when the system cannot give it or it does not fit.
const OwnModulePath& own_module_path();

// Starts the own executable with the rebuilt command line and this process's standard handles,
// waits for it without a time limit, removes the unpack directory and returns the child's exit
// code, all 32 bits (1 when it cannot be read). Ends the process with exit code 2 when the
// child cannot be started; the unpack directory then stays. `while_child_starts`, when given,
// runs once the child has been created, before the wait: work that need not hold it up. During
// the wait, the places this run's start-up sweeps covered are swept further (SweepWhileWaiting).
std::uint32_t launch_child(const std::function<void()>& while_child_starts = {});

// The same for the packed program at `program_path`, started as the child itself: its command
// line is its quoted path and then this process's own command-line tail as it stands, and a
// Ctrl-C or Ctrl-Break is left to it. When the system's loader ended it before it ran (a
// missing DLL or export, a bad image), the folder is removed and the run ends with exit code 2
// and "Error, couldn't launch child" with the matching system error.
std::uint32_t launch_program(const wchar_t* program_path, const std::function<void()>& while_child_starts = {});

// The system error behind an exit code that only the loader gives a process it could not start
// (STATUS_DLL_NOT_FOUND gives ERROR_MOD_NOT_FOUND); none for any other code.
std::optional<std::uint32_t> loader_failure_code(std::uint32_t exit_code);

}  // namespace osvari
