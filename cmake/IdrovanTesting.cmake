include(${CMAKE_CURRENT_LIST_DIR}/IdrovanLibrary.cmake)

if(NOT IDROVAN_TESTS)
  return()
endif()
enable_testing()

if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest as source; build it with the cross compiler, static,
  # inside this build tree. It defines the GTest:: names itself.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()

# idrovan_add_test(<name> SOURCES <files>... [LIBS <libs>...] [LABELS <labels>...])
# One executable per test file: a file that fails to build costs only its own test.
function(idrovan_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    # Console test programs; relative XML path because Wine maps the cwd.
    add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${name}.xml)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
endfunction()
