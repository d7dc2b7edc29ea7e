# Building launcher executables: the plain launcher and onefile executables of applications.

# Used from this source tree (add_subdirectory) and from an installed package (find_package):
# the templates lie beside this file in both. The launcher's libraries are the targets
# OsvariOnefile::core and OsvariOnefile::launcher_entry, built here or imported from the package.
# Cached, so that the functions find the templates when called from an application's own folders.
set(OSVARI_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "Osvari Onefile's CMake functions and templates")
include(${CMAKE_CURRENT_LIST_DIR}/OsvariPackTool.cmake)

function(_osvari_escape_c out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(_osvari_escape_rc out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Version text "1.2.3" -> "1,2,3,0" for the numeric fields of the version information.
function(_osvari_version_numbers out text)
  set(numbers 0 0 0 0)
  string(REGEX MATCHALL "[0-9]+" found "${text}")
  set(index 0)
  foreach(number IN LISTS found)
    if(index LESS 4)
      math(EXPR value "${number} % 65536")
      list(REMOVE_AT numbers ${index})
      list(INSERT numbers ${index} ${value})
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  list(JOIN numbers "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# Stops with one line unless `text` is one to four numbers of 0 to 65535 separated by dots, as
# osvari-pack --version takes them.
function(_osvari_check_version function_name text)
  set(valid FALSE)
  if(text MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    set(valid TRUE)
    string(REPLACE "." ";" numbers "${text}")
    foreach(number IN LISTS numbers)
      string(LENGTH "${number}" digits)
      if(digits GREATER 5 OR number GREATER 65535)
        set(valid FALSE)
      endif()
    endforeach()
  endif()
  if(NOT valid)
    message(FATAL_ERROR "${function_name}: VERSION needs one to four numbers from 0 to 65535 separated by dots, "
      "like 2.1.0, not \"${text}\"")
  endif()
endfunction()

# osvari_add_launcher(<target> [COMPANY <text>] [PRODUCT <text>] [VERSION <text>]
#                     [PAYLOAD <attached data file>] [PAYLOAD_DEPENDS <targets>...])
# A GUI-subsystem launcher executable with the three constants compiled in, the manifest,
# version information and, when PAYLOAD is given, that file as its attached data.
function(osvari_add_launcher target)
  _osvari_require_windows("osvari_add_launcher(${target})")
  cmake_parse_arguments(arg "" "COMPANY;PRODUCT;VERSION;PAYLOAD" "PAYLOAD_DEPENDS" ${ARGN})
  if(NOT DEFINED arg_COMPANY)
    set(arg_COMPANY "Osvari")
  endif()
  if(NOT DEFINED arg_PRODUCT)
    set(arg_PRODUCT "Osvari Onefile")
  endif()
  if(NOT DEFINED arg_VERSION)
    set(arg_VERSION "0.1.0")
  endif()

  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_launcher)
  _osvari_escape_c(cpp_company "${arg_COMPANY}")
  _osvari_escape_c(cpp_product "${arg_PRODUCT}")
  _osvari_escape_c(cpp_version "${arg_VERSION}")
  configure_file(${OSVARI_CMAKE_DIR}/build_constants.cpp.in ${generated}/build_constants.cpp @ONLY)

  _osvari_escape_rc(rc_company "${arg_COMPANY}")
  _osvari_escape_rc(rc_product "${arg_PRODUCT}")
  _osvari_escape_rc(rc_version "${arg_VERSION}")
  _osvari_version_numbers(rc_version_numbers "${arg_VERSION}")
  set(rc_file_name "${target}.exe")
  set(rc_manifest "${OSVARI_CMAKE_DIR}/launcher.manifest")
  set(rc_payload_line "")
  if(arg_PAYLOAD)
    set(rc_payload_line "27 RCDATA \"${arg_PAYLOAD}\"")
  endif()
  configure_file(${OSVARI_CMAKE_DIR}/launcher.rc.in ${generated}/launcher.rc @ONLY)
  set_source_files_properties(${generated}/launcher.rc PROPERTIES
    OBJECT_DEPENDS "${OSVARI_CMAKE_DIR}/launcher.manifest;${arg_PAYLOAD}")

  add_executable(${target} WIN32 ${generated}/build_constants.cpp ${generated}/launcher.rc)
  target_link_libraries(${target} PRIVATE OsvariOnefile::launcher_entry)
  # Static: the one file must run without the compiler's runtime libraries beside it.
  # Sections page-aligned in the file as well: Wine then maps the image instead of reading all of
  # it (the attached data included) into memory at every start. Stripped and without a link time
  # stamp: the same sources give the same bytes in any build folder.
  target_link_options(${target} PRIVATE -municode -static -s -Wl,--no-insert-timestamp -Wl,--file-alignment=0x1000)
  target_compile_options(${target} PRIVATE -municode)
  if(arg_PAYLOAD_DEPENDS)
    add_dependencies(${target} ${arg_PAYLOAD_DEPENDS})
  endif()
endfunction()

# osvari_add_onefile(<target> PROGRAM <exe target or file> | MAIN_LIBRARY <dll target or file>
#                    [DATA <file or folder>...]
#                    [COMPANY <text>] [PRODUCT <text>] [VERSION <text>] [LEVEL <n>]
#                    [CONSOLE | WINDOWS] [ICON <file.ico>] [MANIFEST <file>] [CACHE]
#                    [NO_ERROR_DIALOG] [NO_PROGRESS_WINDOW] [SPLASH <image>])
# Builds <target>.exe: a launcher for the application, with its name and version compiled in,
# packed by osvari-pack with the program or main library and the data, the version
# information, and the subsystem, icon and manifest asked for. A program keeps its own
# subsystem, icons and version information unless the options give others; a main library gets
# a GUI program unless CONSOLE. With CACHE the executable unpacks once into a per-user cache
# folder and starts from there later (osvari-pack --cache). NO_ERROR_DIALOG, NO_PROGRESS_WINDOW
# and SPLASH choose what a windowed executable shows a person (osvari-pack's options of those names).
function(osvari_add_onefile target)
  cmake_parse_arguments(arg "CONSOLE;WINDOWS;CACHE;NO_ERROR_DIALOG;NO_PROGRESS_WINDOW"
    "PROGRAM;MAIN_LIBRARY;COMPANY;PRODUCT;VERSION;LEVEL;ICON;MANIFEST;SPLASH" "DATA" ${ARGN})
  if(NOT arg_MAIN_LIBRARY AND NOT arg_PROGRAM)
    message(FATAL_ERROR "osvari_add_onefile(${target}): give the application: PROGRAM <executable target or .exe>, "
      "or MAIN_LIBRARY <DLL target or .dll exporting run_code>")
  endif()
  if(arg_MAIN_LIBRARY AND arg_PROGRAM)
    message(FATAL_ERROR "osvari_add_onefile(${target}): PROGRAM and MAIN_LIBRARY exclude each other: give one")
  endif()
  if(arg_CONSOLE AND arg_WINDOWS)
    message(FATAL_ERROR "osvari_add_onefile(${target}): CONSOLE and WINDOWS exclude each other: give one")
  endif()
  if(DEFINED arg_VERSION)
    _osvari_check_version("osvari_add_onefile(${target})" "${arg_VERSION}")
  endif()
  set(identity)
  set(executable_options)
  foreach(field COMPANY PRODUCT VERSION)
    if(DEFINED arg_${field})
      list(APPEND identity ${field} "${arg_${field}}")
      string(TOLOWER ${field} option)
      list(APPEND executable_options --${option} "${arg_${field}}")
    endif()
  endforeach()
  if(arg_CONSOLE)
    list(APPEND executable_options --console)
  endif()
  if(arg_WINDOWS)
    list(APPEND executable_options --windows)
  endif()
  if(arg_NO_ERROR_DIALOG)
    list(APPEND executable_options --no-error-dialog)
  endif()
  if(arg_NO_PROGRESS_WINDOW)
    list(APPEND executable_options --no-progress-window)
  endif()
  set(option_files)
  foreach(field ICON MANIFEST SPLASH)
    if(DEFINED arg_${field})
      # Relative to the calling CMakeLists.txt, as DATA.
      cmake_path(ABSOLUTE_PATH arg_${field} BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE file)
      if(NOT EXISTS "${file}")
        message(FATAL_ERROR "osvari_add_onefile(${target}): ${field} '${arg_${field}}' does not exist")
      endif()
      string(TOLOWER ${field} option)
      list(APPEND executable_options --${option} "${file}")
      list(APPEND option_files "${file}")
    endif()
  endforeach()

  _osvari_require_windows("osvari_add_onefile(${target})")
  if(arg_PROGRAM)
    _osvari_program(application application_depends ${target} ${arg_PROGRAM})
    set(application_name ${arg_PROGRAM})
  else()
    _osvari_main_library(application application_depends ${target} ${arg_MAIN_LIBRARY})
    set(application_name ${arg_MAIN_LIBRARY})
  endif()
  _osvari_resolve_data(data ${target} ${arg_DATA})

  set(level_option)
  if(arg_LEVEL)
    set(level_option --level ${arg_LEVEL})
  endif()
  set(cache_option)
  if(arg_CACHE)
    set(cache_option --cache)
  endif()
  _osvari_pack_tool(pack_command pack_depends)

  # The application's own launcher, kept out of the way of the finished executable.
  set(launcher ${target}_launcher)
  osvari_add_launcher(${launcher} ${identity})
  set_target_properties(${launcher} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${launcher})

  if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(executable ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${target}.exe)
  else()
    set(executable ${CMAKE_CURRENT_BINARY_DIR}/${target}.exe)
  endif()
  # The depfile lists every file and folder read, so adding, changing, removing or renaming
  # anything below a DATA folder packs again.
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${target}.exe.d)
  add_custom_command(
    OUTPUT ${executable}
    COMMAND ${pack_command} ${level_option} ${cache_option} --launcher $<TARGET_FILE:${launcher}> ${executable_options}
            --depfile ${depfile} --output ${executable} ${application} ${data}
    DEPENDS ${launcher} ${application_depends} ${pack_depends} ${data} ${option_files}
    DEPFILE ${depfile}
    COMMENT "Packing ${application_name} and its data into ${target}.exe"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${executable})
endfunction()
