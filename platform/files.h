// Files, directories and paths.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/unique_handle.h"

namespace osvari {

// GetModuleFileNameW for the running executable; the result as the system gives it.
std::uint32_t own_module_file_name(wchar_t* buffer, std::uint32_t capacity);

// GetTempPathW into `buffer`; the result as the system gives it.
std::uint32_t get_temp_path(wchar_t* buffer, std::uint32_t capacity);

// CreateFileW(GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS): creates or truncates.
UniqueFileHandle create_file_for_writing(const wchar_t* path);
// One WriteFile call; false on failure, with last_error() telling why.
bool write_file(RawHandle file, const void* data, std::uint32_t length, std::uint32_t& written);

enum class CreateDirectoryResult { created, already_exists, failed };
CreateDirectoryResult create_directory(const wchar_t* path);  // CreateDirectoryW

// GetFileAttributesW: true when the path exists and is a directory.
bool is_existing_directory(const wchar_t* path);

// CreateFileW with no access, full sharing and OPEN_EXISTING: a handle to ask about the file.
UniqueFileHandle open_for_query(const wchar_t* path);
// GetFinalPathNameByHandleW (flags 0), looked up at run time: no value when the system lacks
// it, otherwise its result (0 on failure, at least `capacity` when the path did not fit).
std::optional<std::uint32_t> final_path_by_handle(RawHandle file, wchar_t* buffer, std::uint32_t capacity);
// GetShortPathNameW; a null buffer with capacity 0 asks for the size needed.
std::uint32_t short_path_name(const wchar_t* path, wchar_t* buffer, std::uint32_t capacity);

}  // namespace osvari
