// The launcher's failure reports for the fuzz build: instead of ending the process they throw
// RunEnded, which the target catches.
#include "base/error_reporting.h"

#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"

namespace osvari {

std::string narrow_for_message(std::wstring_view text) {
  std::string narrow;
  for (wchar_t unit : text) {
    if (static_cast<std::uint32_t>(unit) >= 256) break;
    narrow.push_back(static_cast<char>(unit));
  }
  return narrow;
}

void fatal_error(std::string_view message) { throw fuzz::RunEnded(std::string(message)); }
void report_system_error(std::string_view, std::uint32_t) {}
void fatal_system_error(std::string_view message, std::uint32_t) { throw fuzz::RunEnded(std::string(message)); }
void fatal_expand_error(std::wstring_view spec) { throw fuzz::RunEnded("expand " + narrow_for_message(spec)); }
void fatal_open_for_writing(std::wstring_view path) { throw fuzz::RunEnded("open " + narrow_for_message(path)); }
void fail_internal_limit(std::string_view what) { throw fuzz::RunEnded(std::string(what)); }

}  // namespace osvari
