// A real Ctrl-C during a launcher run: this test program takes a console of its own, starts the
// run attached to it, waits until the application has written its ready file and sends the event.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "tests/support/process_runner.h"

namespace osvari::testing {

struct InterruptedRun {
  ProcessResult result;
  bool ready = false;       // the ready file appeared before the event was sent
  bool generated = false;   // GenerateConsoleCtrlEvent succeeded
  std::uint32_t generate_error = 0;
};

// `run` starts the launcher (with arguments that make the application attach to this process's
// console and write `ready_file` once it runs) and returns what it did.
InterruptedRun run_with_ctrl_c(const std::function<ProcessResult()>& run, const std::filesystem::path& ready_file);

}  // namespace osvari::testing
