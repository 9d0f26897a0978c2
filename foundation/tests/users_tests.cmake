tidesync_test(foundation_users_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/users_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation platform_test_support)
