#include "platform/modules.h"

#include "platform/win32.h"

namespace osvari {

ResourceBytes find_own_rcdata_resource(int id) {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (resource == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const auto* data = static_cast<const unsigned char*>(LockResource(loaded));
  if (data == nullptr) return {};
  return {data, SizeofResource(nullptr, resource)};
}

void add_dll_directory(const wchar_t* directory) { AddDllDirectory(directory); }

void* load_library(const wchar_t* path) {
  return reinterpret_cast<void*>(LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

bool system_finds_library(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

void* find_exported_function(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace osvari
