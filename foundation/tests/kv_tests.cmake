tidesync_test(foundation_kv_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kv_list_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/kv_file_test.cpp
  LIBS foundation platform_test_support)
