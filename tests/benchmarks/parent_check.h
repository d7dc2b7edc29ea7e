// The child's check of its parent, timed alone: the first thing a launcher's child does, and a
// part of its start that a plain host process does not have.
#pragma once

#include <optional>
#include <string>

namespace osvari::benchmark {

// In a process of its own (the launcher resolves its own path once per process): checks the
// process `parent_id` as the launcher's child checks its parent, and writes how long that took,
// in 100 ns units, into `result_file`. Exit code 0 when the check accepted the parent.
int time_parent_check(const wchar_t* parent_id, const wchar_t* result_file);

// What time_parent_check wrote, in seconds.
std::optional<double> read_parent_check_seconds(const std::wstring& result_file);

}  // namespace osvari::benchmark
