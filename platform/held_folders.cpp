#include "platform/held_folders.h"

#include <cstring>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/win32.h"

#include <winternl.h>

namespace osvari {
namespace {

constexpr NTSTATUS status_object_name_not_found = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS status_object_path_not_found = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS status_object_name_collision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS status_not_a_directory = static_cast<NTSTATUS>(0xC0000103);

constexpr ACCESS_MASK folder_access =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG no_delete_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// NtCreateFile of `name` relative to `parent`, as the entry itself (FILE_OPEN_REPARSE_POINT),
// for synchronous use.
NTSTATUS create_relative(RawHandle parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing,
                         ULONG disposition, ULONG options, UniqueFileHandle& result) {
  if (name.empty() || name.size() > 32767) return status_object_name_not_found;
  UNICODE_STRING object_name;
  object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  object_name.Buffer = const_cast<wchar_t*>(name.data());
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                   disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status >= 0) result.reset(handle);
  return status;
}

HeldEntry failure(NTSTATUS status) {
  HeldEntry entry;
  entry.error = RtlNtStatusToDosError(status);
  return entry;
}

HeldEntry with_status(HeldEntryStatus status) {
  HeldEntry entry;
  entry.status = status;
  return entry;
}

// A reparse point, or (under Wine, which follows a Unix link even when asked not to and shows
// the target) an entry whose handle reaches another name than `name` inside `parent`.
bool is_link(RawHandle entry, RawHandle parent, std::wstring_view name) {
  const std::optional<std::uint32_t> attributes = handle_attributes(entry);
  if (!attributes || (*attributes & attribute_reparse_point) != 0) return true;
  return !handle_reaches_child(entry, parent, name);
}

}  // namespace

HeldEntry hold_folder_at(const wchar_t* path) {
  HeldEntry entry;
  entry.handle.reset(CreateFileW(path, folder_access, no_delete_sharing, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry.handle.is_valid()) {
    entry.error = GetLastError();
    return entry;
  }
  entry.status = HeldEntryStatus::opened;
  return entry;
}

HeldEntry open_folder_inside(RawHandle parent, std::wstring_view name) {
  HeldEntry entry;
  const NTSTATUS status =
      create_relative(parent, name, folder_access, no_delete_sharing, FILE_OPEN, FILE_DIRECTORY_FILE, entry.handle);
  if (status >= 0) {
    if (is_link(entry.handle.get(), parent, name)) return with_status(HeldEntryStatus::link);
    entry.status = HeldEntryStatus::opened;
    return entry;
  }
  if (status == status_object_name_not_found || status == status_object_path_not_found) {
    return with_status(HeldEntryStatus::missing);
  }
  if (status == status_not_a_directory) {
    UniqueFileHandle file;
    const NTSTATUS asked = create_relative(parent, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                           FILE_SHARE_DELETE, FILE_OPEN, 0, file);
    if (asked >= 0 && is_link(file.get(), parent, name)) return with_status(HeldEntryStatus::link);
    return with_status(HeldEntryStatus::not_a_folder);
  }
  return failure(status);
}

HeldEntry create_folder_inside(RawHandle parent, std::wstring_view name) {
  HeldEntry entry;
  const NTSTATUS status = create_relative(parent, name, folder_access, no_delete_sharing, FILE_CREATE,
                                          FILE_DIRECTORY_FILE, entry.handle);
  if (status >= 0) {
    entry.status = HeldEntryStatus::opened;
    return entry;
  }
  if (status == status_object_name_collision) return with_status(HeldEntryStatus::exists);
  return failure(status);
}

HeldEntry create_file_inside(RawHandle folder, std::wstring_view name) {
  HeldEntry entry;
  const NTSTATUS status =
      create_relative(folder, name, GENERIC_WRITE | DELETE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, entry.handle);
  if (status >= 0) {
    entry.status = HeldEntryStatus::opened;
    return entry;
  }
  if (status == status_object_name_collision) return with_status(HeldEntryStatus::exists);
  return failure(status);
}

bool rename_inside(RawHandle file, RawHandle folder, std::wstring_view name) {
  // The record ends in the name, which runs past the declared one-unit array.
  std::vector<unsigned char> record(sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(record.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, name.data(), name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      NtSetInformationFile(file, &io, rename, static_cast<ULONG>(record.size()), FileRenameInformation);
  if (status < 0) SetLastError(RtlNtStatusToDosError(status));
  return status >= 0;
}

}  // namespace osvari
