# Real programs nobody here wrote, which scripts/setup.sh builds once from Debian's source
# packages, each packed as it is by the packing tool the build uses: bin/<name>-onefile.exe.
# A copy laid out as it is packed lies in bin/real-programs/<name>/, so that the tests can run
# the same program directly and compare. The build only copies and packs them.

set(OSVARI_REAL_PROGRAMS_DIR ${OSVARI_DEPS_DIR}/real-programs CACHE PATH
  "Where scripts/setup.sh puts zstd.exe, lua.exe with lua54.dll and puttygen.exe, built for Windows")
foreach(file IN ITEMS zstd.exe lua.exe lua54.dll puttygen.exe)
  if(NOT EXISTS ${OSVARI_REAL_PROGRAMS_DIR}/${file})
    message(FATAL_ERROR "${file} is missing from ${OSVARI_REAL_PROGRAMS_DIR}: "
      "run ${PROJECT_SOURCE_DIR}/scripts/setup.sh, which builds it (or set OSVARI_DEPS_DIR to where it was built)")
  endif()
endforeach()

# _osvari_pack_real_program(<name> PROGRAM <file> [FILES <file>...] [FOLDER <folder>])
# Packs PROGRAM, FILES and the contents of FOLDER into bin/<name>-onefile.exe and copies them,
# in the same layout, to bin/real-programs/<name>/.
function(_osvari_pack_real_program name)
  cmake_parse_arguments(arg "" "PROGRAM;FOLDER" "FILES" ${ARGN})
  set(stage ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/real-programs/${name})
  set(sources ${arg_PROGRAM} ${arg_FILES})
  set(copies)
  foreach(file IN LISTS sources)
    cmake_path(GET file FILENAME file_name)
    list(APPEND copies ${stage}/${file_name})
  endforeach()
  if(arg_FOLDER)
    file(GLOB_RECURSE folder_files CONFIGURE_DEPENDS RELATIVE ${arg_FOLDER} ${arg_FOLDER}/*)
    foreach(relative IN LISTS folder_files)
      list(APPEND sources ${arg_FOLDER}/${relative})
      list(APPEND copies ${stage}/${relative})
    endforeach()
  endif()
  foreach(source copy IN ZIP_LISTS sources copies)
    add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy} DEPENDS ${source} VERBATIM)
  endforeach()

  _osvari_pack_tool(pack_command pack_depends)
  set(executable ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}-onefile.exe)
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${name}-onefile.exe.d)
  add_custom_command(
    OUTPUT ${executable}
    COMMAND ${pack_command} --launcher $<TARGET_FILE:osvari-launcher> --depfile ${depfile} --output ${executable}
            ${arg_PROGRAM} ${arg_FILES} ${arg_FOLDER}
    DEPENDS osvari-launcher ${pack_depends} ${arg_PROGRAM} ${arg_FILES} ${arg_FOLDER}
    DEPFILE ${depfile}
    COMMENT "Packing ${name} as it is into ${name}-onefile.exe"
    VERBATIM)
  add_custom_target(${name}_onefile ALL DEPENDS ${executable} ${copies})
  add_dependencies(end_to_end_tests ${name}_onefile)
endfunction()

# A console program reading and writing its standard streams.
_osvari_pack_real_program(zstd PROGRAM ${OSVARI_REAL_PROGRAMS_DIR}/zstd.exe)
# A console program with a DLL of its own and scripts it finds beside itself.
_osvari_pack_real_program(lua PROGRAM ${OSVARI_REAL_PROGRAMS_DIR}/lua.exe FILES ${OSVARI_REAL_PROGRAMS_DIR}/lua54.dll
  FOLDER ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/lua_probe)
# A windowed program with an icon and version information.
_osvari_pack_real_program(puttygen PROGRAM ${OSVARI_REAL_PROGRAMS_DIR}/puttygen.exe)

# The windowed one on a screen of its own, closed as a person would: tests/windowed_real_program.png
# shows what it looked like.
add_test(NAME end_to_end_windowed_real_program
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end/windowed_real_program_test.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
          ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/puttygen-onefile.exe "PuTTY Key Generator"
          ${CMAKE_CURRENT_BINARY_DIR}/windowed_real_program)
# Alone: beside the Wine tests that take consoles and send console events, its window was seen
# to miss its close.
set_tests_properties(end_to_end_windowed_real_program PROPERTIES
  ENVIRONMENT "${OSVARI_TEST_ENVIRONMENT}" FIXTURES_REQUIRED wine_prefix RUN_SERIAL TRUE)
