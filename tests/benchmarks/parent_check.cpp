#include "tests/benchmarks/parent_check.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "launcher/run/parent_handshake.h"
#include "platform/win32.h"

namespace osvari::benchmark {
namespace {

std::uint64_t precise_time_now() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

int time_parent_check(const wchar_t* parent_id, const wchar_t* result_file) {
  const std::uint64_t start = precise_time_now();
  const bool accepted = check_parent_process(parent_id);
  const std::uint64_t end = precise_time_now();
  std::ofstream(std::filesystem::path(result_file)) << (end - start) << "\n";
  return accepted ? 0 : 1;
}

std::optional<double> read_parent_check_seconds(const std::wstring& result_file) {
  std::ifstream in{std::filesystem::path(result_file)};
  std::uint64_t counts = 0;
  if (!(in >> counts)) return std::nullopt;
  return static_cast<double>(counts) / 1e7;
}

}  // namespace osvari::benchmark
