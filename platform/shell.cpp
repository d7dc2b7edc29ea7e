#include "platform/shell.h"

#include "platform/win32.h"
// After <windows.h>:
#include <shellapi.h>  // CommandLineToArgvW
#include <shlobj.h>

namespace osvari {
namespace {

struct LoadedShell32 {
  HMODULE module;
  DWORD error;  // why it could not be loaded
};

// shell32 is loaded when first needed, not at start: under Wine it pulls in user32, gdi32 and
// more, which cost every start about 30 ms, and the child role never calls it. It stays loaded
// for the life of the process.
const LoadedShell32& shell32() {
  static const LoadedShell32 loaded = [] {
    HMODULE module = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags refuse it; shell32 is a known DLL, taken from the system
    // folder whatever the search order.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(L"shell32.dll");
    return LoadedShell32{module, module == nullptr ? GetLastError() : ERROR_SUCCESS};
  }();
  return loaded;
}

// Null, with the reason as the last error, when shell32 or the function cannot be had.
template <typename Function>
Function* shell32_function(const char* name) {
  if (shell32().module == nullptr) {
    SetLastError(shell32().error);
    return nullptr;
  }
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(shell32().module, name)));
}

}  // namespace

SplitArguments::SplitArguments(const wchar_t* command_line) {
  auto* const split = shell32_function<decltype(CommandLineToArgvW)>("CommandLineToArgvW");
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
  auto* const folder_path = shell32_function<decltype(SHGetFolderPathW)>("SHGetFolderPathW");
  return folder_path != nullptr && folder_path(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK;
}

}  // namespace osvari
