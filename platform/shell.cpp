#include "platform/shell.h"

#include "platform/win32.h"
// After <windows.h>:
#include <shellapi.h>
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

void delete_tree(const wchar_t* double_terminated_paths) {
  static const wchar_t empty[] = L"";
  SHFILEOPSTRUCTW request{};
  request.hwnd = nullptr;
  request.wFunc = FO_DELETE;
  request.pFrom = double_terminated_paths;
  request.pTo = empty;
  request.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  request.fAnyOperationsAborted = FALSE;
  request.hNameMappings = nullptr;
  request.lpszProgressTitle = empty;
  SHFileOperationW(&request);
}

}  // namespace osvari
