#include "tools/pack/attached_data/attached_data_source.h"

#include <fstream>
#include <sstream>

#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/executable_resources/launcher_attach.h"
#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"
#include "tools/pack/read_failure.h"
#include "tools/pack/pe/pe_reader.h"
#include "tools/pack/pe/pe_resources.h"

namespace osvari::pack {

AttachedDataSource read_attached_data_of(const std::filesystem::path& file) {
  std::error_code error;
  // A folder opens as a stream of no bytes on POSIX.
  if (std::filesystem::is_directory(file, error)) fail_cannot_read(file);
  std::ifstream stream(file, std::ios::binary);
  std::ostringstream contents;
  if (stream) contents << stream.rdbuf();
  if (!stream || stream.bad()) fail_cannot_read(file);
  std::string bytes = std::move(contents).str();

  if (bytes.starts_with(attached_data_header)) return {file, std::move(bytes), false};
  if (!bytes.starts_with("MZ")) {
    fail_bad_input(display_path(file) + ": neither an executable nor attached data (no MZ or KAY header)");
  }
  try {
    const ResourceTable resources = read_resources(bytes, read_editable_headers(ImageBytes::in_memory(bytes)));
    // osvari-pack writes one language; of several, the lowest is listed first.
    const auto found =
        resources.find(resource_id(resource_type_rcdata), resource_id(attached_data_resource_id));
    if (found.empty()) {
      fail_bad_input(display_path(file) + ": an executable without attached data (no RCDATA resource " +
                     std::to_string(attached_data_resource_id) + ")");
    }
    return {file, found.front()->data, true};
  } catch (const ImageFormatError& error) {
    fail_bad_input(display_path(file) + " " + error.what());
  }
}

}  // namespace osvari::pack
