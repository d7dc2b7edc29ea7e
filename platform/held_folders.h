// Folders held open as themselves, and what is opened, made and renamed through them by handle:
// names are looked up inside the folder a handle holds, never along a path that someone could
// change between two steps.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/unique_handle.h"

namespace osvari {

enum class HeldEntryStatus {
  opened,        // or made, for the calls that make
  missing,       // nothing has the name
  exists,        // something has the name already
  link,          // a symbolic link or junction (or a Unix link that Wine follows), never entered
  not_a_folder,  // a file
  failed,        // `error` tells why
};

struct HeldEntry {
  HeldEntryStatus status = HeldEntryStatus::failed;
  UniqueFileHandle handle;  // when opened
  std::uint32_t error = 0;  // a system error code, when failed
};

// The folder at `path` (links on the way followed: the path is the caller's choice), open for
// making things in it, with read and write sharing but none for deletion, so that it cannot be
// renamed or removed while held.
HeldEntry hold_folder_at(const wchar_t* path);

// The folder `name` (one component) inside the held folder `parent`, opened and held as
// hold_folder_at does, as the entry itself: a link or junction is reported, never followed.
HeldEntry open_folder_inside(RawHandle parent, std::wstring_view name);

// Makes the folder `name` inside `parent` and holds it; exists when anything has the name.
HeldEntry create_folder_inside(RawHandle parent, std::wstring_view name);

// Makes the file `name` inside `folder` for writing and renaming, with no sharing; exists when
// anything has the name, a link or a link to nothing included, so nothing is written through a
// name someone else placed.
HeldEntry create_file_inside(RawHandle folder, std::wstring_view name);

// Renames the open `file` (made by create_file_inside) to `name` inside the held `folder`,
// replacing a file or a link of that name, never what a link leads to. False on failure, with
// last_error() telling why.
bool rename_inside(RawHandle file, RawHandle folder, std::wstring_view name);

}  // namespace osvari
