tidesync_test(foundation_time_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/time_hx_time_test.cpp
  LIBS foundation platform_test_support)
