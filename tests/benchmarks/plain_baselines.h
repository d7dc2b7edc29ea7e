// The same work as a onefile run, done by the plainest code that can do it: what the launcher's
// figures are measured against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace osvari::benchmark {

// Decodes attached data ("KAY", frames, trailer) and writes every entry below `directory` with
// CreateDirectoryW / CreateFileW / WriteFile: no checks beyond what the loop needs to work.
// Returns the number of files written.
std::size_t plain_unpack(std::string_view attached_data, const std::wstring& directory);

// Decodes the attached data as plain_unpack does and drops the bytes: what decoding alone costs,
// to tell it from file handling. Not a baseline.
void decode_only(std::string_view attached_data);

// Removes `directory` and everything below it with FindFirstFileExW / DeleteFileW /
// RemoveDirectoryW; returns the number of files removed.
std::size_t plain_remove(const std::wstring& directory);

// 100 ns system-time counts, comparable between processes.
std::uint64_t system_time_now();

inline double seconds_between(std::uint64_t start, std::uint64_t end) {
  return end > start ? static_cast<double>(end - start) / 1e7 : 0.0;
}

}  // namespace osvari::benchmark
