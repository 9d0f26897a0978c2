# The sync loops, the updater and uploader they drive, and the run-mode dispatch: in process
# over a driven clock, and as the command agent woken by other processes.
tidesync_test(noltsync_loop_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loop_inprocess_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/loop_classes_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/loop_test_fixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_test_fixture.cpp
  LIBS noltsync_core platform_test_support)
target_include_directories(noltsync_loop_tests PRIVATE ${PROJECT_SOURCE_DIR})

tidesync_test(noltsync_loop_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loop_process_test.cpp
  LIBS noltplatform platform_test_support)
add_dependencies(noltsync_loop_process_tests noltcmd noltsync noltreg)
