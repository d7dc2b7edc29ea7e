// The executable's own resources, and loading libraries.
#pragma once

#include <cstdint>
#include <string>

namespace osvari {

struct ResourceBytes {
  const unsigned char* data = nullptr;  // null when the resource is missing
  std::uint64_t size = 0;
};

// RT_RCDATA resource `id` of the running executable, read in place; valid until the process ends.
ResourceBytes find_own_rcdata_resource(int id);

// True when the running executable is marked for the GUI subsystem, false for a console program.
bool own_executable_is_windowed();

// The file name of the running executable ("app.exe"); empty when the system cannot give it.
std::wstring own_executable_file_name();

// The ProductName of the running executable's version information in its first language;
// empty when it has none.
std::wstring own_product_name();

// The first icon group of the running executable at `size` pixels square (an HICON, which lives
// as long as the process); null when it has none.
void* own_icon(int size);

// AddDllDirectory; its result is not reported.
void add_dll_directory(const wchar_t* directory);
// LoadLibraryExW with LOAD_WITH_ALTERED_SEARCH_PATH; null on failure, last_error() tells why.
void* load_library(const wchar_t* path);
void* find_exported_function(void* module, const char* name);
// Whether LoadLibraryExW finds the DLL `name` by the system's own search (the system folders,
// the current directory, PATH), mapped without running or resolving anything of it.
bool system_finds_library(const wchar_t* name);

}  // namespace osvari
