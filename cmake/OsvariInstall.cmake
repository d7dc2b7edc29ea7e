# What `cmake --install` puts below a prefix, and the archives `cpack` makes of it: both
# osvari-packs, the plain launcher and a CMake package with which osvari_add_onefile builds
# applications without this source tree. Every place is relative to the prefix, so the tree
# works wherever it is moved; osvari-pack finds the launcher from bin/ in share/osvari-onefile/.
include(CMakePackageConfigHelpers)

set(osvari_package_dir lib/cmake/OsvariOnefile)
set(osvari_library_dir lib/osvari-onefile)

_osvari_host_pack_program(osvari_host_pack_program)
install(PROGRAMS ${osvari_host_pack_program} DESTINATION bin)
install(TARGETS osvari-pack RUNTIME DESTINATION bin)
install(TARGETS osvari-launcher RUNTIME DESTINATION share/osvari-onefile)
install(FILES tools/pack/share/osvari-pack.1 DESTINATION share/man/man1)
# bash-completion loads a command's completion from a file named after the command.
install(FILES tools/pack/share/osvari-pack.bash DESTINATION share/bash-completion/completions RENAME osvari-pack)

# The launcher prebuilt, for the launchers that osvari_add_onefile makes per application: the
# consumer compiles only its constants and its resources.
install(TARGETS osvari_core osvari_launcher_entry ARCHIVE DESTINATION ${osvari_library_dir})
install(FILES $<TARGET_FILE:${OSVARI_ZSTD_TARGET}> DESTINATION ${osvari_library_dir})
install(FILES base/build_constants.h DESTINATION include/osvari-onefile/base)
install(FILES include/osvari/onefile_folder.h DESTINATION include/osvari)
install(FILES
    cmake/OsvariOnefileConfig.cmake cmake/OsvariOnefile.cmake cmake/OsvariPackTool.cmake
    cmake/build_constants.cpp.in cmake/launcher.rc.in cmake/launcher.manifest cmake/mingw-w64-x86_64.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/OsvariOnefileConfigVersion.cmake
  DESTINATION ${osvari_package_dir})
# 0.x: a new minor version may change what the functions take.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OsvariOnefileConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)

set(osvari_doc_dir share/doc/osvari-onefile)
install(FILES README.md DESTINATION ${osvari_doc_dir})
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  install(FILES LICENSE DESTINATION ${osvari_doc_dir})
endif()
# libzstd goes into every launcher and osvari-pack.exe: its licence travels with them.
if(EXISTS ${OSVARI_DEPS_DIR}/src/libzstd/src/LICENSE)
  install(FILES ${OSVARI_DEPS_DIR}/src/libzstd/src/LICENSE DESTINATION ${osvari_doc_dir}/zstd)
endif()

set(CPACK_PACKAGE_NAME osvari-onefile)
set(CPACK_PACKAGE_VENDOR Osvari)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME osvari-onefile-${PROJECT_VERSION})
set(CPACK_GENERATOR TGZ ZIP)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
