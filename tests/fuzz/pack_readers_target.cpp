// osvari-pack's readers of files that others made, over any bytes: the PE reader with the
// run_code check, the import tables and the resource tree, icon files, the attached-data walk
// (as --verify runs it) and the cache index; and the launcher's own import reader, which names a
// missing DLL. A foreseen refusal is an exception the tool turns
// into one line; anything else (a crash, a read out of bounds, memory beyond the limit the
// fuzzer runs under) is a finding.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "payload/attached_data_layout.h"
#include "payload/cache_index.h"
#include "payload/image_imports.h"
#include "tools/pack/attached_data/attached_data_source.h"
#include "tools/pack/attached_data/attached_data_walk.h"
#include "tools/pack/executable_resources/icon_file.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pe/dll_entry_check.h"
#include "tools/pack/pe/pe_imports.h"
#include "tools/pack/pe/pe_reader.h"
#include "tools/pack/pe/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace osvari::pack;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ImageBytes image = ImageBytes::in_memory(bytes);

  (void)check_dll_entry(image);
  (void)imported_dll_names(image);
  try {
    const PeHeaders headers = read_editable_headers(image);
    const ResourceTable resources = read_resources(bytes, headers);
    // What --list and --verify then walk: the attached data in its resource.
    const auto found = resources.find(resource_id(resource_type_rcdata), resource_id(osvari::attached_data_resource_id));
    if (!found.empty()) {
      try {
        walk_attached_data({"fuzz.exe", found.front()->data, true}, {});
      } catch (const PackError&) {
      }
    }
  } catch (const ImageFormatError&) {
  }
  try {
    (void)read_icon_file(bytes);
  } catch (const ImageFormatError&) {
  }
  try {
    EntryHandlers handlers;
    handlers.begin = [](std::u16string_view, std::uint64_t) {};
    walk_attached_data({"fuzz.bin", std::string(bytes), false}, handlers);
  } catch (const PackError&) {
  }
  (void)osvari::read_cache_index(data, size);

  const auto names = osvari::read_imported_dll_names([&](std::uint64_t offset, unsigned char* into, std::size_t length) {
    if (offset >= size) return std::size_t{0};
    const std::size_t count = std::min<std::size_t>(length, size - offset);
    std::memcpy(into, data + offset, count);
    return count;
  });
  if (names) {
    if (names->size() > osvari::max_imported_dlls) std::abort();
    for (const std::string& name : *names) {
      if (name.empty() || name.size() > osvari::max_imported_dll_name) std::abort();
      for (char c : name) {
        if (c < 0x20 || c > 0x7E) std::abort();
      }
    }
  }
  return 0;
}
