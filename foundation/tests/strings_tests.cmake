tidesync_test(foundation_strings_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/strings_hx_str_test.cpp
  LIBS foundation platform_test_support)
