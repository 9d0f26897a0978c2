# The manifest parser and the rule language of filter scripts.
tidesync_test(noltsync_manifest_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/manifest_load_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/manifest_rule_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/manifest_operator_test.cpp
  LIBS noltsync_core inventory net_test_support platform_test_support)
target_include_directories(noltsync_manifest_tests PRIVATE ${PROJECT_SOURCE_DIR})
