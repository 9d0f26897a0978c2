tidesync_test(platform_identity_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/identity_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/identity_guid_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/identity_timefmt_test.cpp
  LIBS noltplatform platform_test_support)
