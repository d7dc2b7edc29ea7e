// The attached-data reader and the entry walk with its name check, in the parent role, over
// any bytes as the resource: every input either unpacks (into the fake platform) or ends the
// run with a report; nothing may read or write out of bounds. A cache index at the start is
// read as the launcher reads it, and the entries are then held to it.
#include <cstdint>

#include "base/shared_state.h"
#include "payload/attached_data_reader.h"
#include "payload/unpack.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace osvari;
  if (unpack_directory().empty()) (void)unpack_directory().assign(L"C:\\Temp\\onefile_1_2");
  try {
    open_attached_data(ResourceBytes{size == 0 ? nullptr : data, size});
    const CacheIndexResult cache = read_attached_cache_index();
    if (cache.status == CacheIndexStatus::present) {
      const UnpackPlan plan{cache.index.entries};
      unpack_files(RoleKind::parent, &plan);
    } else {
      unpack_files(RoleKind::parent);
    }
    confirm_attached_data_end();
  } catch (const fuzz::RunEnded&) {
  }
  close_attached_data();
  return 0;
}
