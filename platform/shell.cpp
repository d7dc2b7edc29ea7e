#include "platform/shell.h"

#include "platform/win32.h"
// After <windows.h>:
#include <shellapi.h>  // CommandLineToArgvW
#include <shlobj.h>

namespace osvari {
namespace {

// shell32 is loaded when first needed, not at start: under Wine it pulls in user32, gdi32 and
// more, which cost every start about 30 ms, and the child role never calls it. It stays loaded
// for the life of the process.
HMODULE shell32() {
  static const HMODULE module = [] {
    HMODULE loaded = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags refuse it; shell32 is a known DLL, taken from the system
    // folder whatever the search order.
    if (loaded == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) loaded = LoadLibraryW(L"shell32.dll");
    return loaded;
  }();
  return module;
}

template <typename Function>
Function* shell32_function(const char* name) {
  HMODULE module = shell32();
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

SplitArguments::SplitArguments(const wchar_t* command_line) {
  static auto* const split = shell32_function<decltype(CommandLineToArgvW)>("CommandLineToArgvW");
  if (split == nullptr) {
    error_ = GetLastError();
    return;
  }
  arguments_ = split(command_line, &count_);
  if (arguments_ == nullptr) error_ = GetLastError();
}

SplitArguments::~SplitArguments() {
  if (arguments_ != nullptr) LocalFree(arguments_);
}

bool get_folder_path(int folder, wchar_t* buffer) {
  static auto* const folder_path = shell32_function<decltype(SHGetFolderPathW)>("SHGetFolderPathW");
  return folder_path != nullptr && folder_path(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK;
}

}  // namespace osvari
