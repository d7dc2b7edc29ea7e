#include "tests/support/leftovers.h"

#include <windows.h>
// After <windows.h>:
#include <tlhelp32.h>

#include <array>

#include "launcher/finish/made_folder_record.h"
#include "paths/extended_length_path.h"
#include "tests/support/temporary_directory.h"

namespace osvari::testing {
namespace {

constexpr const wchar_t* record_key = L"Software\\Osvari Onefile\\Made folders";

std::vector<std::uint32_t> children_of(std::uint32_t process_id) {
  std::vector<std::uint32_t> children;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == process_id && entry.th32ProcessID != process_id) {
      children.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return children;
}

}  // namespace

std::vector<std::wstring> records_below(const std::filesystem::path& folder) {
  std::vector<std::wstring> found;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, record_key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return found;
  const std::wstring prefix = extended_length_path(folder.wstring()) + L"\\";
  std::array<wchar_t, 256> name{};
  std::vector<unsigned char> data(record_capacity);
  for (DWORD index = 0;; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS got = RegEnumValueW(key, index, name.data(), &name_length, nullptr, nullptr, data.data(), &size);
    if (got == ERROR_NO_MORE_ITEMS) break;
    if (got != ERROR_SUCCESS) continue;
    const auto record = decode_made_folder_record(std::span<const unsigned char>(data.data(), size));
    if (record && record->path.size() > prefix.size() && _wcsnicmp(record->path.c_str(), prefix.c_str(), prefix.size()) == 0) {
      found.emplace_back(name.data(), name_length);
    }
  }
  RegCloseKey(key);
  return found;
}

void make_recorded_leftover(const std::filesystem::path& folder, int files) {
  std::filesystem::create_directories(folder);
  record_made_folder(extended_length_path(folder.wstring()));
  const std::string contents(512, 'x');
  for (int i = 0; i < files; ++i) {
    write_file(folder / (L"d" + std::to_wstring(i % 8)) / (L"f" + std::to_wstring(i) + L".bin"), contents);
  }
}

std::size_t files_below(const std::filesystem::path& folder) {
  std::size_t count = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) ++count;
  }
  return count;
}

void kill_process(std::uint32_t process_id, std::uint32_t exit_code, bool with_descendants) {
  // Found before the parent goes, and killed after it, so that no parent sees its child end.
  const std::vector<std::uint32_t> children = with_descendants ? children_of(process_id) : std::vector<std::uint32_t>{};
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id);
  if (process != nullptr) {
    // Under Wine a termination now and then leaves the process running with one thread stuck;
    // a second one ends it.
    for (int attempt = 0; attempt < 3; ++attempt) {
      TerminateProcess(process, exit_code);
      if (WaitForSingleObject(process, 3'000) == WAIT_OBJECT_0) break;
    }
    CloseHandle(process);
  }
  for (const std::uint32_t child : children) kill_process(child, exit_code, true);
}

std::vector<std::uint32_t> processes_of(const std::wstring& exe_name) {
  std::vector<std::uint32_t> found;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exe_name.c_str()) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

void kill_processes_of(const std::wstring& exe_name, std::uint32_t exit_code) {
  for (const std::uint32_t process_id : processes_of(exe_name)) kill_process(process_id, exit_code, false);
}

}  // namespace osvari::testing
