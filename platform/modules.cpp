#include "platform/modules.h"

#include <vector>

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

void* find_exported_function(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

namespace {

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

}  // namespace

bool replace_rcdata_resource(const wchar_t* executable, int id, const void* data, std::uint64_t size,
                             std::uint32_t& error) {
  if (size > 0xFFFFFFFFULL) {
    error = ERROR_INVALID_PARAMETER;  // a resource's size is a 32-bit count
    return false;
  }
  // UpdateResourceW replaces only the language it is given: find the others to delete them.
  std::vector<WORD> languages;
  if (HMODULE module = LoadLibraryExW(executable, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    EnumResourceLanguagesW(module, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(id), collect_language,
                           reinterpret_cast<LONG_PTR>(&languages));
    FreeLibrary(module);
  }
  HANDLE update = BeginUpdateResourceW(executable, FALSE);
  if (update == nullptr) {
    error = GetLastError();
    return false;
  }
  // The data takes the place of the first copy (Wine cannot delete a resource, but replaces one
  // in place); any further copies are deleted.
  const WORD language = languages.empty() ? MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL) : languages.front();
  for (std::size_t i = 1; i < languages.size(); ++i) {
    UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(id), languages[i], nullptr, 0);
  }
  // A null pointer would delete the resource; empty data needs a valid pointer and size 0.
  static char empty = 0;
  void* bytes = size == 0 ? &empty : const_cast<void*>(data);
  if (!UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(id), language, bytes, static_cast<DWORD>(size))) {
    error = GetLastError();
    EndUpdateResourceW(update, TRUE);
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    error = GetLastError();
    return false;
  }
  return true;
}

}  // namespace osvari
