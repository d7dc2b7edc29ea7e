#include "platform/standard_streams.h"

#include "platform/win32.h"

namespace osvari {
namespace {

bool leads_somewhere(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  // A handle value that names nothing (closed, or never one of this process) has no type.
  SetLastError(NO_ERROR);
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

}  // namespace

bool standard_output_or_error_leads_somewhere() {
  return leads_somewhere(STD_OUTPUT_HANDLE) || leads_somewhere(STD_ERROR_HANDLE);
}

}  // namespace osvari
