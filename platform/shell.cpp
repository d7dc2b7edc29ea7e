#include "platform/shell.h"

#include "platform/win32.h"
// After <windows.h>:
#include <shellapi.h>  // CommandLineToArgvW
#include <shlobj.h>

namespace osvari {

SplitArguments::SplitArguments(const wchar_t* command_line) {
  arguments_ = CommandLineToArgvW(command_line, &count_);
  if (arguments_ == nullptr) error_ = GetLastError();
}

SplitArguments::~SplitArguments() {
  if (arguments_ != nullptr) LocalFree(arguments_);
}

bool get_folder_path(int folder, wchar_t* buffer) {
  return SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK;
}

}  // namespace osvari
