# tidesync_test(NAME SOURCES... LIBS ...): one GoogleTest executable, registered with CTest.
# Every test runs with a private sandbox root so nothing touches the machine.
function(tidesync_test name)
  if(NOT TIDESYNC_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "TIDESYNC_BUILD_DIR=${CMAKE_BINARY_DIR}" TIMEOUT 120)
endfunction()
