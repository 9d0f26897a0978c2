# Zip catalogs and the safe unpacking of archives.
tidesync_test(noltsync_zipcatalog_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/zipcatalog_test.cpp
  LIBS noltsync_core net_test_support platform_test_support)
target_include_directories(noltsync_zipcatalog_tests PRIVATE ${PROJECT_SOURCE_DIR})
