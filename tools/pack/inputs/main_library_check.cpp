#include "tools/pack/inputs/main_library_check.h"

#include <fstream>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/pe/pe_image.h"

namespace osvari::pack {

void check_main_library(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) fail_bad_input("cannot read " + display_path(path));
  file.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(file.tellg());
  const auto read = [&](std::uint64_t offset, std::span<unsigned char> destination) {
    if (offset > size || destination.size() > size - offset) return false;
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(destination.data()), static_cast<std::streamsize>(destination.size()));
    return file.gcount() == static_cast<std::streamsize>(destination.size());
  };
  const PeCheck result = check_pe_image(read);
  if (result != PeCheck::dll_with_run_code) {
    fail_bad_input("main library '" + display_path(path) + "' " + std::string(pe_check_description(result)));
  }
}

}  // namespace osvari::pack
