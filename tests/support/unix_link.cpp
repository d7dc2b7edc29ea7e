#include "tests/support/unix_link.h"

#include "platform/win32.h"

namespace osvari::testing {
namespace {

std::wstring widened(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

void run_unix_program(const wchar_t* program, std::wstring command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

namespace {

// The Unix program may still run when its Wine handle is signalled: wait for its effect.
bool wait_until_present(const std::wstring& path, bool present) {
  for (int attempt = 0; attempt < 400; ++attempt) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    // Either way: a search misses a link made beside a directory handle that was listed, and
    // the attributes of a link to nothing cannot be read.
    const bool seen = search != INVALID_HANDLE_VALUE || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    if (seen == present) return true;
    Sleep(25);
  }
  return false;
}

}  // namespace

std::string unix_path_of(const std::wstring& windows_path) {
  using Function = char*(CDECL*)(const wchar_t*);
  const auto function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (function == nullptr) return {};
  char* unix_path = function(windows_path.c_str());
  if (unix_path == nullptr) return {};
  std::string result(unix_path);
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

UnixLink::UnixLink(const std::wstring& link, const std::wstring& target) : link_(link) {
  const std::size_t separator = link.find_last_of(L'\\');
  if (separator == std::wstring::npos) return;
  const std::string parent = unix_path_of(link.substr(0, separator));
  const std::string unix_target = unix_path_of(target);
  if (parent.empty() || unix_target.empty()) return;
  unix_link_ = parent + "/" + std::string(link.begin() + static_cast<std::ptrdiff_t>(separator) + 1, link.end());
  run_unix_program(L"Z:\\bin\\ln", L"ln -s \"" + widened(unix_target) + L"\" \"" + widened(unix_link_) + L"\"");
  made_ = wait_until_present(link_, true);
}

UnixLink::~UnixLink() {
  if (unix_link_.empty()) return;
  run_unix_program(L"Z:\\bin\\rm", L"rm -f \"" + widened(unix_link_) + L"\"");
  wait_until_present(link_, false);
}

}  // namespace osvari::testing
