// The child's command line from any process command line: whenever it is built, splitting it
// again gives the launcher's own path followed by exactly the user's arguments.
#include <cstdint>
#include <cstdlib>

#include "launcher/run/command_line.h"
#include "tests/fuzz/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace osvari;
  const std::wstring line = fuzz::wide_text(data, size);
  static ChildCommandLine target;
  for (const wchar_t* module_path : {L"C:\\dir\\app.exe", L"C:\\Program Files\\my app\\app.exe"}) {
    const CommandLineResult result = build_command_line(line.c_str(), module_path, target);
    if (result.outcome != CommandLineOutcome::built) continue;
    std::vector<std::wstring> expected = split_command_line(line);
    expected[0] = module_path;
    if (split_command_line(target.view()) != expected) std::abort();
  }
  return 0;
}
