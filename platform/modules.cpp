#include "platform/modules.h"

#include <vector>

#include "platform/system_functions.h"
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

bool own_executable_is_windowed() {
  const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  return headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

namespace {

// The full path of the running executable; empty when it does not fit or cannot be had.
std::wstring own_executable_path() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return path;
}

// A resource name as an enumeration gives it: a number, or a string that lives only as long as
// the enumeration.
struct ResourceName {
  bool found = false;
  WORD number = 0;
  std::wstring text;
  [[nodiscard]] LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(number) : text.c_str(); }
};

BOOL CALLBACK take_first_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR into) {
  auto& first = *reinterpret_cast<ResourceName*>(into);
  first.found = true;
  if (IS_INTRESOURCE(name)) {
    first.number = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  } else {
    first.text = name;
  }
  return FALSE;  // the first is enough
}

}  // namespace

std::wstring own_executable_file_name() {
  const std::wstring path = own_executable_path();
  return path.substr(path.find_last_of(L"\\/") + 1);
}

std::wstring own_product_name() {
  static const auto size_of = system_function<decltype(&GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
  static const auto read = system_function<decltype(&GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
  static const auto query = system_function<decltype(&VerQueryValueW)>(L"version.dll", "VerQueryValueW");
  if (size_of == nullptr || read == nullptr || query == nullptr) return {};
  const std::wstring path = own_executable_path();
  DWORD ignored = 0;
  const DWORD size = path.empty() ? 0 : size_of(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  if (!read(path.c_str(), 0, size, block.data())) return {};
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!query(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return {};
  }
  wchar_t key[64];
  swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\ProductName", translations->language, translations->code_page);
  wchar_t* name = nullptr;
  if (!query(block.data(), key, reinterpret_cast<void**>(&name), &length) || name == nullptr || length == 0) return {};
  return std::wstring(name, wcsnlen(name, length));
}

void* own_icon(int size) {
  static const auto load_image = system_function<decltype(&LoadImageW)>(L"user32.dll", "LoadImageW");
  if (load_image == nullptr) return nullptr;
  HMODULE own = GetModuleHandleW(nullptr);
  ResourceName group;
  EnumResourceNamesW(own, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, take_first_name, reinterpret_cast<LONG_PTR>(&group));
  if (!group.found) return nullptr;
  return load_image(own, group.get(), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
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
