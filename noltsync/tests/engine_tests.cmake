tidesync_test(noltsync_engine_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_test_fixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_settings_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_schedule_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_cycles_test.cpp
  LIBS noltsync_core noltplatform platform_test_support)
