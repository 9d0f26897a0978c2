tidesync_test(foundation_url_credentials_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/url_credentials_test.cpp
  LIBS foundation)
