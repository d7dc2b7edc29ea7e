// Files, directories and paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_handle.h"

namespace osvari {

// GetModuleFileNameW for the running executable; the result as the system gives it.
std::uint32_t own_module_file_name(wchar_t* buffer, std::uint32_t capacity);

// GetTempPathW into `buffer`; the result as the system gives it.
std::uint32_t get_temp_path(wchar_t* buffer, std::uint32_t capacity);

// CreateFileW(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS): creates or truncates. No other
// writer may open the file while the handle is open, nor this call succeed while another holds
// it for writing (last_error() 32): two writers at one file fail instead of mixing their bytes.
UniqueFileHandle create_file_for_writing(const wchar_t* path);
// One WriteFile call; false on failure, with last_error() telling why.
bool write_file(RawHandle file, const void* data, std::uint32_t length, std::uint32_t& written);

enum class CreateDirectoryResult { created, already_exists, failed };
CreateDirectoryResult create_directory(const wchar_t* path);  // CreateDirectoryW

// GetFileAttributesW: true when the path exists and is a directory.
bool is_existing_directory(const wchar_t* path);

// The attribute bits the removal of a tree looks at.
inline constexpr std::uint32_t attribute_read_only = 0x1;
inline constexpr std::uint32_t attribute_hidden = 0x2;
inline constexpr std::uint32_t attribute_system = 0x4;
inline constexpr std::uint32_t attribute_directory = 0x10;
inline constexpr std::uint32_t attribute_normal = 0x80;
inline constexpr std::uint32_t attribute_reparse_point = 0x400;

// GetFileAttributesW; no value when the path cannot be found or asked about.
std::optional<std::uint32_t> file_attributes(const wchar_t* path);
bool set_file_attributes(const wchar_t* path, std::uint32_t attributes);  // SetFileAttributesW

// A directory or link opened as the entry itself (a link, not its target), with full sharing,
// for listing, changing attributes and deleting through the handle; invalid when it cannot be
// opened. Only its name (handle_reaches) tells whether the system followed a link anyway.
UniqueFileHandle open_directory_itself(const wchar_t* path);
// True when `entry` reaches `path` (a "\\?\" path with a drive or UNC share) below its volume,
// letter case aside.
bool handle_reaches(RawHandle entry, const wchar_t* path);
// True when `entry` reaches the entry named like the last component of `path` inside the
// directory that `path`'s parent reaches (links on the way to that parent are followed).
bool handle_reaches_inside_parent(RawHandle entry, const wchar_t* path);
// True when `entry` reaches the entry `name` inside the directory that `parent` reaches.
bool handle_reaches_child(RawHandle entry, RawHandle parent, std::wstring_view name);
// The attributes the handle reports; no value when it cannot tell.
std::optional<std::uint32_t> handle_attributes(RawHandle entry);
bool set_handle_attributes(RawHandle entry, std::uint32_t attributes);
// Marks the entry for deletion when its last handle closes; a directory only when empty.
bool mark_for_deletion(RawHandle entry);
// GetFinalPathNameByHandleW (flags 0) of the handle, any length; empty on failure.
std::wstring final_path_of_handle(RawHandle entry);

// Deletes the file at `path` (a "\\?\" path with a drive or UNC share), clearing read-only,
// hidden and system first when asked, through a handle opened on the entry itself (a link, not
// its target). Refuses when that handle reaches another name than `path` below its volume:
// Wine resolves a Unix link to a file even then, and shows it as a plain file, so only the
// name the handle reached tells that deleting would reach the target. False when the file was
// not deleted.
bool delete_file_itself(const wchar_t* path, bool clear_blocking_attributes);

// Opens the file itself (never a link's target) for writing, gives it `last_write_time` and
// returns once its data and that time have reached the disk (FlushFileBuffers). False on failure.
bool set_write_time_and_flush(const wchar_t* path, std::uint64_t last_write_time);

// What tells one file or directory from any other on this machine, whatever its name.
struct FileIdentity {
  std::uint32_t volume = 0;  // serial number
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the entry itself (a link, not its target, where the system tells them apart);
// no value when it cannot be opened.
std::optional<FileIdentity> identity_of(const wchar_t* path);

// MoveFileExW without MOVEFILE_REPLACE_EXISTING: fails (last_error() 183 or 5) when anything is
// at `to` already, so of two runs renaming a folder into the same place only one wins.
bool move_without_replacing(const wchar_t* from, const wchar_t* to);

// Sets the last-write time of the directory itself (never a link's target) to `time`.
bool set_directory_last_write_time(const wchar_t* path, std::uint64_t time);

struct DirectoryEntry {
  std::wstring name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t last_write_time = 0;  // 100 ns intervals since 1601, UTC
};

// What a file or directory itself shows (a link's own, never its target's), by
// GetFileAttributesExW; no value when it cannot be asked about. The name is left empty.
std::optional<DirectoryEntry> entry_facts(const wchar_t* path);

enum class ConditionalDeletion { deleted, kept, not_found, failed };
// Opens the entry at `path` itself, as delete_file_itself does, and asks `keep` about what that
// handle shows (the name left empty). Deletes it through the same handle unless `keep` says
// so: what is looked at is what is deleted, so an entry someone puts at the name in between is
// never taken. Only a plain file is deleted (read-only cleared first); a directory or link that
// `keep` does not keep is `failed`, as is a handle that reaches another name.
ConditionalDeletion delete_file_itself_unless(const wchar_t* path,
                                              const std::function<bool(const DirectoryEntry&)>& keep);

// The entries of `directory` whose names match `pattern` ("*" for all), without "." and "..",
// through FindFirstFileExW with basic information and large fetches. False when the
// directory could not be listed; a directory without matches lists as empty. `stop`, when
// given, is asked now and then and ends the listing early (with true).
bool list_directory(const std::wstring& directory, const wchar_t* pattern, std::vector<DirectoryEntry>& entries,
                    const std::function<bool()>& stop = {});

// The entries of the directory open as `directory` (opened with list access), without "." and
// "..", read through the handle itself. False when it could not be read to the end.
bool list_directory_by_handle(RawHandle directory, std::vector<DirectoryEntry>& entries);

// True when the owner of the file or directory (a link itself, not its target, where the system
// tells them apart) is this process's user or the token's default owner for new objects.
bool is_owned_by_current_user(const wchar_t* path);

// GetFullPathNameW of any length; the path unchanged when the system cannot make it full.
std::wstring full_path_name(const wchar_t* path);

// CreateFileW with no access, full sharing and OPEN_EXISTING: a handle to ask about the file.
UniqueFileHandle open_for_query(const wchar_t* path);
// GetFinalPathNameByHandleW (flags 0), looked up at run time: no value when the system lacks
// it, otherwise its result (0 on failure, at least `capacity` when the path did not fit).
std::optional<std::uint32_t> final_path_by_handle(RawHandle file, wchar_t* buffer, std::uint32_t capacity);
// GetShortPathNameW; a null buffer with capacity 0 asks for the size needed.
std::uint32_t short_path_name(const wchar_t* path, wchar_t* buffer, std::uint32_t capacity);

// Opened for reading, sharing read, write and delete; invalid on failure.
UniqueFileHandle open_for_reading(const wchar_t* path);
// ReadFile at `offset`: the bytes read, 0 on failure or at the end.
std::size_t read_file_at(RawHandle file, std::uint64_t offset, void* into, std::uint32_t length);

}  // namespace osvari
