// Starting the launcher's own executable again as the child, and waiting for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

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
// runs once the child has been created, before the wait: work that need not hold it up.
std::uint32_t launch_child(const std::function<void()>& while_child_starts = {});

}  // namespace osvari
