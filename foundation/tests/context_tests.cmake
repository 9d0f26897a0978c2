tidesync_test(foundation_context_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/context_store_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/context_load_and_layout_test.cpp
  LIBS foundation platform_test_support)
