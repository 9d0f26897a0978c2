tidesync_test(foundation_private_temp_directory_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/private_temp_directory_test.cpp
  LIBS foundation platform_test_support)
