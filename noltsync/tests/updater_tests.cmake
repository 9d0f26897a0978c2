# The updater's manifest step against a loopback server, with manifests signed by noltpub.
tidesync_test(noltsync_updater_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/updater_manifest_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/engine_test_fixture.cpp
  LIBS noltsync_core noltpub_core net_test_support net_http_test_support platform_test_support)
target_include_directories(noltsync_updater_tests PRIVATE ${PROJECT_SOURCE_DIR})
