# The named single-writer/multi-reader guard across processes. locks_peer is the other process;
# locks_peer_support starts and follows it (the run-mode tests of the plug-in use it too).
add_executable(locks_peer ${CMAKE_CURRENT_LIST_DIR}/locks_peer.cpp)
target_link_libraries(locks_peer PRIVATE foundation)

add_library(locks_peer_support INTERFACE)
target_include_directories(locks_peer_support INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(locks_peer_support INTERFACE LOCKS_PEER_PATH="$<TARGET_FILE:locks_peer>")
target_link_libraries(locks_peer_support INTERFACE noltplatform sync_test_support)
add_dependencies(locks_peer_support locks_peer)

tidesync_test(foundation_locks_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/locks_guard_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_capture.cpp
  LIBS foundation locks_peer_support platform_test_support)
