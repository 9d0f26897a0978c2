# Run-mode detection in the host agents and in process, the notification of the host and the
# command agents, and the engine's guarded file move.
tidesync_test(noltsync_runmode_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/runmode_host_agents_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/runmode_notification_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/runmode_move_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_test_fixture.cpp
  LIBS noltsync_core noltplatform platform_test_support locks_peer_support)
add_dependencies(noltsync_runmode_tests noltcmd noltsync)
