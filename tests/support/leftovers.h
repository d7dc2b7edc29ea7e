// What killed runs leave, for the end-to-end tests of the sweep: folders of many files recorded
// as made by the launcher, the records left below a folder, and a run's processes killed.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <thread>
#include <string>
#include <vector>

namespace osvari::testing {

// Polls until `done` holds, for up to `limit`: a bound on a wait, not a measure of speed.
template <typename Condition>
bool eventually(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return true;
}

// The names of the records of made folders whose path lies below `folder`.
std::vector<std::wstring> records_below(const std::filesystem::path& folder);

// Makes `folder` with `files` small files spread over a few subfolders and records it as made
// by the launcher, as a run killed part way through its unpacking leaves it.
void make_recorded_leftover(const std::filesystem::path& folder, int files);

// The number of files below `folder` (0 when it is gone).
std::size_t files_below(const std::filesystem::path& folder);

// Ends the process `process_id` with `exit_code` (TerminateProcess), and then, when
// `with_descendants`, every process it started, and theirs.
void kill_process(std::uint32_t process_id, std::uint32_t exit_code, bool with_descendants);

// The ids of the running processes of the executable named `exe_name` (no folder).
std::vector<std::uint32_t> processes_of(const std::wstring& exe_name);

// kill_process for every process of processes_of(exe_name).
void kill_processes_of(const std::wstring& exe_name, std::uint32_t exit_code);

}  // namespace osvari::testing
