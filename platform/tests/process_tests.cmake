tidesync_test(platform_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_tests.cpp
  LIBS noltplatform platform_test_support)
