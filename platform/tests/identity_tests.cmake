tidesync_test(platform_identity_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/identity_test.cpp
  LIBS noltplatform platform_test_support)
