#include "platform/files.h"

#include "platform/win32.h"
// After <windows.h>:
#include <aclapi.h>

#include <string_view>

namespace osvari {

std::uint32_t own_module_file_name(wchar_t* buffer, std::uint32_t capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

std::uint32_t get_temp_path(wchar_t* buffer, std::uint32_t capacity) { return GetTempPathW(capacity, buffer); }

UniqueFileHandle create_file_for_writing(const wchar_t* path) {
  return UniqueFileHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
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

std::optional<std::uint32_t> file_attributes(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

bool set_file_attributes(const wchar_t* path, std::uint32_t attributes) {
  return SetFileAttributesW(path, attributes) != FALSE;
}

namespace {

// The path below its volume that a handle reaches (FileNameInfo has no length limit, unlike
// Wine's GetFinalPathNameByHandleW, which fails past 260 code units).
std::wstring volume_relative_name(HANDLE file) {
  thread_local std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFO) + 65536);
  if (!GetFileInformationByHandleEx(file, FileNameInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) return {};
  const auto* information = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
  return std::wstring(information->FileName, information->FileNameLength / sizeof(wchar_t));
}

// "\\?\C:\a\b" -> "\a\b", "\\?\UNC\server\share\a" -> "\server\share\a"; empty for other forms.
std::wstring_view below_volume(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return path.substr(7);
  if (path.size() > 7 && path.starts_with(L"\\\\?\\") && path[5] == L':' && path[6] == L'\\') return path.substr(6);
  return {};
}

bool names_equal(std::wstring_view left, std::wstring_view right) {
  return !left.empty() && CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                               static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool handle_reaches(RawHandle entry, const wchar_t* path) {
  return names_equal(below_volume(path), volume_relative_name(entry));
}

bool handle_reaches_inside_parent(RawHandle entry, const wchar_t* path) {
  const std::wstring_view whole(path);
  const std::size_t separator = whole.find_last_of(L'\\');
  if (separator == std::wstring_view::npos || separator + 1 == whole.size()) return false;
  std::wstring parent(whole.substr(0, separator));
  if (parent.ends_with(L':')) parent += L'\\';  // the drive's root directory, not the volume
  const UniqueFileHandle parent_directory(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!parent_directory.is_valid()) return false;
  std::wstring expected = volume_relative_name(parent_directory.get());
  if (expected.empty()) return false;
  if (!expected.ends_with(L'\\')) expected += L'\\';
  expected += whole.substr(separator + 1);
  return names_equal(expected, volume_relative_name(entry));
}

bool handle_reaches_child(RawHandle entry, RawHandle parent, std::wstring_view name) {
  std::wstring expected = volume_relative_name(parent);
  if (expected.empty()) return false;
  if (!expected.ends_with(L'\\')) expected += L'\\';
  expected += name;
  return names_equal(expected, volume_relative_name(entry));
}

bool delete_file_itself(const wchar_t* path, bool clear_blocking_attributes) {
  const UniqueFileHandle file(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.is_valid()) return false;
  if (!handle_reaches(file.get(), path)) return false;
  if (clear_blocking_attributes) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
      basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT);
      if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
    }
  }
  return mark_for_deletion(file.get());
}

std::optional<DirectoryEntry> entry_facts(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return std::nullopt;
  return DirectoryEntry{{},
                        data.dwFileAttributes,
                        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime};
}

ConditionalDeletion delete_file_itself_unless(const wchar_t* path, const std::function<bool(const DirectoryEntry&)>& keep) {
  const UniqueFileHandle entry(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all,
                                           nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry.is_valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ConditionalDeletion::not_found
                                                                          : ConditionalDeletion::failed;
  }
  if (!handle_reaches(entry.get(), path)) return ConditionalDeletion::failed;
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(entry.get(), FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(entry.get(), FileStandardInfo, &standard, sizeof standard)) {
    return ConditionalDeletion::failed;
  }
  const DirectoryEntry facts{{}, basic.FileAttributes, static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                             static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart)};
  if (keep(facts)) return ConditionalDeletion::kept;
  if ((facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return ConditionalDeletion::failed;
  }
  if ((facts.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    (void)set_handle_attributes(entry.get(), (facts.attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL);
  }
  return mark_for_deletion(entry.get()) ? ConditionalDeletion::deleted : ConditionalDeletion::failed;
}

UniqueFileHandle open_directory_itself(const wchar_t* path) {
  return UniqueFileHandle(CreateFileW(
      path, FILE_LIST_DIRECTORY | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, share_all,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::optional<std::uint32_t> handle_attributes(RawHandle entry) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic)) return std::nullopt;
  return basic.FileAttributes;
}

bool set_handle_attributes(RawHandle entry, std::uint32_t attributes) {
  FILE_BASIC_INFO basic{};  // times left at zero: unchanged
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool mark_for_deletion(RawHandle entry) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Room for the longest path the system handles; one buffer per thread, kept for the next call.
std::wstring final_path_of_handle(RawHandle entry) {
  thread_local std::vector<wchar_t> buffer(32768);
  const DWORD length = GetFinalPathNameByHandleW(entry, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length == 0 || length >= buffer.size()) return {};
  return std::wstring(buffer.data(), length);
}

bool list_directory_by_handle(RawHandle directory, std::vector<DirectoryEntry>& entries) {
  // Aligned for the records inside; one buffer per thread, kept for the next directory.
  thread_local std::vector<std::uint64_t> buffer(65536 / sizeof(std::uint64_t));
  for (;;) {
    if (!GetFileInformationByHandleEx(directory, FileIdBothDirectoryInfo, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)))) {
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        entries.push_back({std::wstring(name), record->FileAttributes,
                           static_cast<std::uint64_t>(record->EndOfFile.QuadPart),
                           static_cast<std::uint64_t>(record->LastWriteTime.QuadPart)});
      }
      if (record->NextEntryOffset == 0) break;
      bytes += record->NextEntryOffset;
    }
  }
}


bool list_directory(const std::wstring& directory, const wchar_t* pattern, std::vector<DirectoryEntry>& entries,
                    const std::function<bool()>& stop) {
  const std::wstring query = directory + L"\\" + pattern;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileExW(query.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const UniqueFindHandle owner(search);
  do {
    const wchar_t* name = found.cFileName;
    if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) continue;
    entries.push_back({name, found.dwFileAttributes,
                       (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                       (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                           found.ftLastWriteTime.dwLowDateTime});
    if (stop && entries.size() % 64 == 0 && stop()) return true;
  } while (FindNextFileW(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  return complete;
}

namespace {

// GetTokenInformation into a buffer of the size the system asks for.
std::vector<unsigned char> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> information(size);
  if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size)) information.clear();
  return information;
}

}  // namespace

bool is_owned_by_current_user(const wchar_t* path) {
  const UniqueFileHandle file(CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.is_valid()) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  HANDLE raw_token = nullptr;
  bool owned = false;
  if (owner != nullptr && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    const UniqueHandle token(raw_token);
    const auto user = token_information(raw_token, TokenUser);
    const auto default_owner = token_information(raw_token, TokenOwner);
    owned = (!user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
            (!default_owner.empty() &&
             EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(default_owner.data())->Owner));
  }
  LocalFree(descriptor);
  return owned;
}

std::wstring full_path_name(const wchar_t* path) {
  std::wstring full(GetFullPathNameW(path, 0, nullptr, nullptr), L'\0');
  for (;;) {
    if (full.empty()) return path;
    const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the path changed between the calls: ask again with the new size
  }
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

bool set_write_time_and_flush(const wchar_t* path, std::uint64_t last_write_time) {
  const UniqueFileHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.is_valid()) return false;
  const FILETIME stamp{static_cast<DWORD>(last_write_time & 0xFFFFFFFFu), static_cast<DWORD>(last_write_time >> 32)};
  return SetFileTime(file.get(), nullptr, nullptr, &stamp) != FALSE && FlushFileBuffers(file.get()) != FALSE;
}

std::optional<FileIdentity> identity_of(const wchar_t* path) {
  const UniqueFileHandle entry(CreateFileW(path, FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.is_valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(entry.get(), &information)) return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

bool move_without_replacing(const wchar_t* from, const wchar_t* to) { return MoveFileExW(from, to, 0) != 0; }

bool set_directory_last_write_time(const wchar_t* path, std::uint64_t time) {
  HANDLE directory = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  const UniqueFileHandle owner(directory);
  FILETIME stamp{static_cast<DWORD>(time & 0xFFFFFFFFu), static_cast<DWORD>(time >> 32)};
  return SetFileTime(directory, nullptr, nullptr, &stamp) != 0;
}

UniqueFileHandle open_for_reading(const wchar_t* path) {
  return UniqueFileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::size_t read_file_at(RawHandle file, std::uint64_t offset, void* into, std::uint32_t length) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!ReadFile(file, into, length, &read, &at)) return 0;
  return read;
}

}  // namespace osvari
