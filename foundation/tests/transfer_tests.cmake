tidesync_test(foundation_transfer_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_objects_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation platform_test_support)
