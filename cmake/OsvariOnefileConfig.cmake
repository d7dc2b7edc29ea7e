# The installed Osvari Onefile package: osvari_add_onefile and osvari_add_launcher for a
# mingw-w64 (Windows x86-64) build, with the launcher's prebuilt libraries and this tree's
# osvari-pack. Everything is found relative to this file, so the tree may be moved.
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH osvari_lib_cmake)
cmake_path(GET osvari_lib_cmake PARENT_PATH osvari_lib)
cmake_path(GET osvari_lib PARENT_PATH osvari_prefix)

# Each application's launcher compiles its constants as C++: a C-only project gets C++ enabled
# here, at the scope that found the package.
if(WIN32)
  get_property(osvari_languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT CXX IN_LIST osvari_languages)
    enable_language(CXX)
  endif()
endif()

if(NOT TARGET OsvariOnefile::core)
  set(osvari_libraries ${osvari_prefix}/lib/osvari-onefile)
  add_library(OsvariOnefile::zstd STATIC IMPORTED)
  set_target_properties(OsvariOnefile::zstd PROPERTIES IMPORTED_LOCATION ${osvari_libraries}/libzstd.a)
  add_library(OsvariOnefile::core STATIC IMPORTED)
  set_target_properties(OsvariOnefile::core PROPERTIES
    IMPORTED_LOCATION ${osvari_libraries}/libosvari_core.a
    INTERFACE_INCLUDE_DIRECTORIES ${osvari_prefix}/include/osvari-onefile
    INTERFACE_LINK_LIBRARIES "OsvariOnefile::zstd;advapi32")
  # Nothing but the runtime's startup code asks for the entry point, after every library.
  add_library(OsvariOnefile::launcher_entry STATIC IMPORTED)
  set_target_properties(OsvariOnefile::launcher_entry PROPERTIES
    IMPORTED_LOCATION ${osvari_libraries}/libosvari_launcher_entry.a
    INTERFACE_LINK_LIBRARIES OsvariOnefile::core
    INTERFACE_LINK_OPTIONS -Wl,--undefined=wWinMain)
  # <osvari/onefile_folder.h>, for the application: where its packed files lie.
  add_library(OsvariOnefile::folder INTERFACE IMPORTED)
  set_target_properties(OsvariOnefile::folder PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${osvari_prefix}/include)
endif()

# Packing runs on the build machine: the Linux osvari-pack, or the Windows one on Windows.
if(CMAKE_HOST_WIN32)
  set(OSVARI_INSTALLED_PACK_EXECUTABLE ${osvari_prefix}/bin/osvari-pack.exe)
else()
  set(OSVARI_INSTALLED_PACK_EXECUTABLE ${osvari_prefix}/bin/osvari-pack)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/OsvariOnefile.cmake)
