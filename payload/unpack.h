// Turning the file entries of the attached data into files below the unpack directory.
#pragma once

#include "launcher/role.h"

namespace osvari {

// Parent: writes every entry, up to the terminator. Child: reads only the first name and
// records the main library path. Ends the process on any failure.
void unpack_files(RoleKind role);

// The first entry's target path; empty when the attached data held no entry.
const wchar_t* main_library_path();

// Closes the file being written, if any, so that nothing of this process holds the unpack
// directory; for the exit after a failure on the main thread.
void close_target_file();

}  // namespace osvari
