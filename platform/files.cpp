#include "platform/files.h"

#include "platform/win32.h"

namespace osvari {

std::uint32_t own_module_file_name(wchar_t* buffer, std::uint32_t capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

std::uint32_t get_temp_path(wchar_t* buffer, std::uint32_t capacity) { return GetTempPathW(capacity, buffer); }

UniqueFileHandle create_file_for_writing(const wchar_t* path) {
  return UniqueFileHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr));
}

bool write_file(RawHandle file, const void* data, std::uint32_t length, std::uint32_t& written) {
  DWORD count = 0;
  const BOOL ok = WriteFile(file, data, length, &count, nullptr);
  written = count;
  return ok != FALSE;
}

CreateDirectoryResult create_directory(const wchar_t* path) {
  if (CreateDirectoryW(path, nullptr)) return CreateDirectoryResult::created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirectoryResult::already_exists
                                                : CreateDirectoryResult::failed;
}

bool is_existing_directory(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

UniqueFileHandle open_for_query(const wchar_t* path) {
  return UniqueFileHandle(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::optional<std::uint32_t> final_path_by_handle(RawHandle file, wchar_t* buffer, std::uint32_t capacity) {
  using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  // Looked up at run time: systems before Vista lack it.
  static const auto function = reinterpret_cast<FinalPathFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("Kernel32.dll"), "GetFinalPathNameByHandleW")));
  if (function == nullptr) return std::nullopt;
  return function(file, buffer, capacity, 0);
}

std::uint32_t short_path_name(const wchar_t* path, wchar_t* buffer, std::uint32_t capacity) {
  return GetShortPathNameW(path, buffer, capacity);
}

}  // namespace osvari
