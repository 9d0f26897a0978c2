tidesync_test(foundation_files_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/files_operations_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_repair_service_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_test_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation platform_test_support)
add_dependencies(foundation_files_tests noltsvc)  # the host runs the pending list
