# The packing step of osvari_add_onefile: which osvari-pack runs, what it reads, and checks
# that turn a wrong call into one message saying what to do.

include(ExternalProject)

# Sets <out_program> to the osvari-pack for the build machine that a cross build of this source
# tree makes, and defines the target osvari_host_pack that builds it.
function(_osvari_host_pack_program out_program)
  set(binary_dir ${CMAKE_BINARY_DIR}/osvari-host-pack)
  set(program ${binary_dir}/bin/osvari-pack)
  if(NOT TARGET osvari_host_pack)
    # A plain configure of this project for the build machine builds its tools only.
    ExternalProject_Add(osvari_host_pack
      SOURCE_DIR ${OSVARI_ROOT}
      BINARY_DIR ${binary_dir}
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
      BUILD_COMMAND ${CMAKE_COMMAND} --build ${binary_dir} --target osvari-pack
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${program}
      USES_TERMINAL_BUILD ON)
  endif()
  set(${out_program} ${program} PARENT_SCOPE)
endfunction()

# Sets <out_command> to the osvari-pack to run and <out_depends> to what builds it.
# OSVARI_PACK_EXECUTABLE names one to use; an installed package uses its own; a cross build of
# this source tree builds osvari-pack a second time for the build machine, so that packing needs
# no emulator.
function(_osvari_pack_tool out_command out_depends)
  if(OSVARI_PACK_EXECUTABLE)
    set(${out_command} ${OSVARI_PACK_EXECUTABLE} PARENT_SCOPE)
    set(${out_depends} "" PARENT_SCOPE)
  elseif(OSVARI_INSTALLED_PACK_EXECUTABLE)
    set(${out_command} ${OSVARI_INSTALLED_PACK_EXECUTABLE} PARENT_SCOPE)
    set(${out_depends} ${OSVARI_INSTALLED_PACK_EXECUTABLE} PARENT_SCOPE)
  elseif(CMAKE_CROSSCOMPILING)
    _osvari_host_pack_program(program)
    set(${out_command} ${program} PARENT_SCOPE)
    set(${out_depends} osvari_host_pack ${program} PARENT_SCOPE)
  else()
    set(${out_command} $<TARGET_FILE:osvari-pack> PARENT_SCOPE)
    set(${out_depends} osvari-pack PARENT_SCOPE)
  endif()
endfunction()

# Sets <out> to the items of DATA as absolute paths; relative ones are taken from the folder of
# the CMakeLists.txt that called osvari_add_onefile.
function(_osvari_resolve_data out target)
  set(resolved)
  foreach(item IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH item BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE absolute)
    if(NOT EXISTS "${absolute}")
      message(FATAL_ERROR "osvari_add_onefile(${target}): DATA '${item}' does not exist (looked for ${absolute})")
    endif()
    list(APPEND resolved "${absolute}")
  endforeach()
  set(${out} ${resolved} PARENT_SCOPE)
endfunction()

# Sets <out_file> to the main library's file (a generator expression for a target) and
# <out_depends> to what builds it; stops with the fix when it cannot be a DLL.
function(_osvari_main_library out_file out_depends target library)
  if(TARGET ${library})
    get_target_property(type ${library} TYPE)
    if(NOT type STREQUAL "SHARED_LIBRARY")
      message(FATAL_ERROR "osvari_add_onefile(${target}): MAIN_LIBRARY '${library}' is a ${type} target, but the "
        "launcher loads a DLL: declare it with add_library(${library} SHARED ...)")
    endif()
    set(${out_file} $<TARGET_FILE:${library}> PARENT_SCOPE)
    set(${out_depends} ${library} PARENT_SCOPE)
    return()
  endif()
  cmake_path(ABSOLUTE_PATH library BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE file)
  string(TOLOWER "${file}" lower)
  if(NOT lower MATCHES "\\.dll$" OR NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "osvari_add_onefile(${target}): MAIN_LIBRARY '${library}' is neither a SHARED library "
      "target nor an existing .dll file: define the target with add_library(${library} SHARED ...) before this "
      "call, or give the path of a DLL")
  endif()
  set(${out_file} ${file} PARENT_SCOPE)
  set(${out_depends} ${file} PARENT_SCOPE)
endfunction()

# The program to pack: an executable target of this build, or an existing program file.
function(_osvari_program out_file out_depends target program)
  if(TARGET ${program})
    get_target_property(type ${program} TYPE)
    if(NOT type STREQUAL "EXECUTABLE")
      message(FATAL_ERROR "osvari_add_onefile(${target}): PROGRAM '${program}' is a ${type} target, not a program: "
        "declare it with add_executable(${program} ...), or give a DLL exporting run_code as MAIN_LIBRARY")
    endif()
    set(${out_file} $<TARGET_FILE:${program}> PARENT_SCOPE)
    set(${out_depends} ${program} PARENT_SCOPE)
    return()
  endif()
  cmake_path(ABSOLUTE_PATH program BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE file)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "osvari_add_onefile(${target}): PROGRAM '${program}' is neither an executable target nor "
      "an existing program file: define the target with add_executable(${program} ...) before this call, or give "
      "the path of an .exe")
  endif()
  set(${out_file} ${file} PARENT_SCOPE)
  set(${out_depends} ${file} PARENT_SCOPE)
endfunction()

# The launcher is a Windows program: stop with the fix when this is not a Windows build.
function(_osvari_require_windows function_name)
  if(NOT WIN32)
    # A toolchain keeps a build folder: the command names a new one. The packaged toolchain finds
    # packages below its own root only, so the installed package is named by its folder.
    string(CONCAT command "cmake -S \"${CMAKE_SOURCE_DIR}\" -B \"${CMAKE_BINARY_DIR}-windows\" "
      "-G \"${CMAKE_GENERATOR}\" -DCMAKE_TOOLCHAIN_FILE=\"${OSVARI_CMAKE_DIR}/mingw-w64-x86_64.cmake\"")
    if(OSVARI_ROOT)
      set(setup "run ${OSVARI_ROOT}/scripts/setup.sh first for the compiler and the Windows libzstd")
    else()
      string(APPEND command " -DOsvariOnefile_DIR=\"${OSVARI_CMAKE_DIR}\"")
      set(setup "the compiler comes with Debian's g++-mingw-w64-x86-64-posix")
    endif()
    message(FATAL_ERROR "${function_name}: the launcher is a Windows program, and this build is for "
      "${CMAKE_SYSTEM_NAME}. Configure a build for Windows x86-64 (${setup}):\n  ${command}\n")
  endif()
endfunction()
