// "cannot read FILE: REASON": every file osvari-pack cannot read is named with the system's reason.
#pragma once

#include <filesystem>
#include <system_error>

namespace osvari::pack {

// The reason is asked of the file system now: missing, a folder, or what opening it reports.
[[noreturn]] void fail_cannot_read(const std::filesystem::path& path);

[[noreturn]] void fail_cannot_read(const std::filesystem::path& path, const std::error_code& reason);

}  // namespace osvari::pack
