// Checks that an image is an x86-64 DLL exporting run_code. The bytes are untrusted: every
// offset is bounds-checked, and a damaged image is reported, never read past.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace osvari::pack {

enum class PeCheck {
  dll_with_run_code,
  no_mz_header,
  no_pe_header,
  not_x86_64,
  not_a_dll,
  damaged,  // truncated, or an offset or address outside the image
  no_export_directory,
  no_run_code_export,
};

// Reads `destination.size()` bytes at `offset`; false when they are not all there.
using ImageReader = std::function<bool(std::uint64_t offset, std::span<unsigned char> destination)>;

// Reads only the headers, the export directory and its name table, through `read`.
PeCheck check_pe_image(const ImageReader& read);
PeCheck check_pe_image(std::string_view image);

// What is wrong, for "main library '<path>' <text>"; empty for dll_with_run_code.
std::string_view pe_check_description(PeCheck result);

}  // namespace osvari::pack
