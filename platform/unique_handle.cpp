#include "platform/unique_handle.h"

#include "platform/win32.h"

namespace osvari {

void close_raw_handle(RawHandle handle) { CloseHandle(handle); }

void close_find_handle(RawHandle handle) { FindClose(handle); }

}  // namespace osvari
