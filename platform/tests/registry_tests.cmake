tidesync_test(platform_registry_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_keys_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/registry_hives_test.cpp
  LIBS noltplatform platform_test_support)
