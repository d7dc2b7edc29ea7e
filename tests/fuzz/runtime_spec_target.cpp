// Runtime spec expansion over any spec and any values of the two environment variables it
// reads, into a small and a full-size buffer: the result always stays within the buffer.
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "paths/runtime_spec.h"
#include "platform/processes.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The input's first byte says which variables are set; the rest holds up to three texts
// (spec, OSVARI_ONEFILE_PARENT, OSVARI_ONEFILE_START), each ended by a zero code unit.
std::wstring next_text(const std::uint8_t*& data, std::size_t& size) {
  std::wstring text = osvari::fuzz::wide_text(data, size);
  const std::size_t used = std::min(size, 2 * (text.size() + 1));
  data += used;
  size -= used;
  return text;
}

template <std::size_t Capacity>
void expand(const std::wstring& spec) {
  osvari::BoundedWideString<Capacity> output;
  try {
    (void)osvari::expand_runtime_spec(output, spec.c_str());
  } catch (const osvari::fuzz::RunEnded&) {
  }
  if (output.size() >= Capacity || std::wcslen(output.c_str()) != output.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = *data++;
  --size;
  const std::wstring spec = next_text(data, size);
  const std::wstring parent = next_text(data, size);
  const std::wstring start = next_text(data, size);
  osvari::set_environment_variable(L"OSVARI_ONEFILE_PARENT", (flags & 1) ? parent.c_str() : nullptr);
  osvari::set_environment_variable(L"OSVARI_ONEFILE_START", (flags & 2) ? start.c_str() : nullptr);
  expand<24>(spec);
  expand<4096>(spec);
  return 0;
}
