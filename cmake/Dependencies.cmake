# Third-party libraries, all from Debian packages.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
if(TIDESYNC_TESTS)
  find_package(GTest REQUIRED)
endif()
