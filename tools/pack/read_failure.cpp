#include "tools/pack/read_failure.h"

#include <cerrno>
#include <fstream>

#include "tools/pack/inputs/entry_names.h"
#include "tools/pack/pack_error.h"

namespace osvari::pack {
namespace {

std::error_code reason_for_unreadable(const std::filesystem::path& path) {
  std::error_code status_error;
  const std::filesystem::file_status status = std::filesystem::status(path, status_error);
  if (status_error) return status_error;
  if (std::filesystem::is_directory(status)) return std::make_error_code(std::errc::is_a_directory);
  errno = 0;
  const std::ifstream probe(path, std::ios::binary);
  if (!probe && errno != 0) return {errno, std::generic_category()};
  // It opens now: the failure came while reading.
  return std::make_error_code(std::errc::io_error);
}

}  // namespace

void fail_cannot_read(const std::filesystem::path& path) { fail_cannot_read(path, reason_for_unreadable(path)); }

void fail_cannot_read(const std::filesystem::path& path, const std::error_code& reason) {
  fail_bad_input("cannot read " + display_path(path) + ": " + reason.message());
}

}  // namespace osvari::pack
