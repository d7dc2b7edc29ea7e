# Test registration. Windows test programs run under Wine, in a prefix inside the build tree.

set(OSVARI_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(OSVARI_TEST_ENVIRONMENT
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=winedbg.exe=d"
  "WINEPREFIX=${OSVARI_WINEPREFIX}")

# osvari_add_test_program(<name> SOURCES <files>... [LIBRARIES <libs>...])
# A GoogleTest program registered as one test.
function(osvari_add_test_program name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${arg_LIBRARIES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${OSVARI_TEST_ENVIRONMENT}")
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()

if(WIN32)
  find_program(OSVARI_WINEBOOT NAMES wineboot REQUIRED)
  add_test(NAME wine_prefix COMMAND ${CMAKE_COMMAND} -E env ${OSVARI_TEST_ENVIRONMENT} ${OSVARI_WINEBOOT} --init)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
endif()
