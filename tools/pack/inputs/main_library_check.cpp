#include "tools/pack/inputs/main_library_check.h"

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pe/dll_entry_check.h"

namespace osvari::pack {

void check_main_library(const std::filesystem::path& path) {
  const std::optional<ImageBytes> bytes = ImageBytes::from_file(path);
  if (!bytes) fail_bad_input("cannot read " + display_path(path));
  const DllEntryCheck result = check_dll_entry(*bytes);
  if (result != DllEntryCheck::dll_with_run_code) {
    fail_bad_input("main library '" + display_path(path) + "' " + std::string(dll_entry_check_description(result)));
  }
}

}  // namespace osvari::pack
