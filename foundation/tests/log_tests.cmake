tidesync_test(foundation_log_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_tests.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation platform_test_support)
