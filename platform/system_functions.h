// Functions of system libraries that most runs never call (the window ones): each is looked up
// in its library, loaded from the system folder, on its first use, so a run that shows nothing
// loads none of them.
#pragma once

#include "platform/win32.h"

namespace osvari {

// Null when the library or the function is missing.
template <typename Function>
Function system_function(const wchar_t* library, const char* name) {
  HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace osvari
