tidesync_test(platform_registry_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp
  LIBS noltplatform platform_test_support)
