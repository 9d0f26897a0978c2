tidesync_test(platform_loopback_tcp_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loopback_tcp_test.cpp
  LIBS noltplatform)
