// The executable's own resources, and loading libraries.
#pragma once

#include <cstdint>

namespace osvari {

struct ResourceBytes {
  const unsigned char* data = nullptr;  // null when the resource is missing
  std::uint64_t size = 0;
};

// RT_RCDATA resource `id` of the running executable, read in place; valid until the process ends.
ResourceBytes find_own_rcdata_resource(int id);

// AddDllDirectory; its result is not reported.
void add_dll_directory(const wchar_t* directory);
// LoadLibraryExW with LOAD_WITH_ALTERED_SEARCH_PATH; null on failure, last_error() tells why.
void* load_library(const wchar_t* path);
void* find_exported_function(void* module, const char* name);
// Whether LoadLibraryExW finds the DLL `name` by the system's own search (the system folders,
// the current directory, PATH), mapped without running or resolving anything of it.
bool system_finds_library(const wchar_t* name);

}  // namespace osvari
