# Test support shared by every test suite: a fresh sandbox root per test.
add_library(platform_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/support/scoped_sandbox.cpp)
target_include_directories(platform_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/support)
target_link_libraries(platform_test_support PUBLIC noltplatform)
