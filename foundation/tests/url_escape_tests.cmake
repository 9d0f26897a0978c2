tidesync_test(foundation_url_escape_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/url_escape_test.cpp
  LIBS foundation)
