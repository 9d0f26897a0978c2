tidesync_test(foundation_registry_store_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_store_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation platform_test_support)
