# Named objects, waits, thread messages, the clock and the error numbers. The peer is the other
# process of the cross-process cases.
add_executable(sync_peer ${CMAKE_CURRENT_LIST_DIR}/sync_peer.cpp)
target_link_libraries(sync_peer PRIVATE noltplatform)

add_library(sync_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/sync_test_support.cpp)
target_include_directories(sync_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(sync_test_support PRIVATE SYNC_PEER_PATH="$<TARGET_FILE:sync_peer>")
target_link_libraries(sync_test_support PUBLIC noltplatform platform_test_support)
add_dependencies(sync_test_support sync_peer)

tidesync_test(platform_sync_object_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_object_tests.cpp
  LIBS sync_test_support)
tidesync_test(platform_sync_wait_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_wait_tests.cpp
  LIBS sync_test_support)
tidesync_test(platform_sync_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_process_tests.cpp
  LIBS sync_test_support)
