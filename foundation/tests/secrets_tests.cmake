# Protected values. secrets_peer is the other process of the race to make a scope's key.
add_executable(secrets_peer ${CMAKE_CURRENT_LIST_DIR}/secrets_peer.cpp)
target_link_libraries(secrets_peer PRIVATE foundation)

tidesync_test(foundation_secrets_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/secrets_protected_value_test.cpp
  LIBS foundation platform_test_support)
add_dependencies(foundation_secrets_tests secrets_peer)
target_compile_definitions(foundation_secrets_tests
  PRIVATE SECRETS_PEER_PATH="$<TARGET_FILE:secrets_peer>")
