# Fuzz targets (clang only): every library of the tree gets libFuzzer's coverage hooks and the
# address and undefined-behaviour sanitizers; the targets in fuzz/ then link libFuzzer itself.
if(TIDESYNC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TIDESYNC_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
