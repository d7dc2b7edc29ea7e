// Checks that an image is an x86-64 DLL exporting run_code, the entry the launcher calls. The
// bytes are untrusted: a damaged image is reported, never read past.
#pragma once

#include <string_view>

#include "tools/pack/pe/image_bytes.h"

namespace osvari::pack {

enum class DllEntryCheck {
  dll_with_run_code,
  no_mz_header,
  no_pe_header,
  not_x86_64,
  not_a_dll,
  damaged,  // truncated, or an offset or address outside the image
  no_export_directory,
  no_run_code_export,
};

// Reads only the headers, the export directory and its name table.
DllEntryCheck check_dll_entry(const ImageBytes& bytes);
DllEntryCheck check_dll_entry(std::string_view image);

// What is wrong, for "main library '<path>' <text>"; empty for dll_with_run_code.
std::string_view dll_entry_check_description(DllEntryCheck result);

}  // namespace osvari::pack
