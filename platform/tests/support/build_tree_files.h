// What the tests that run the built host agents share: paths into the build tree and the text
// of the files the agents write.
#pragma once
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A path below the build directory that CTest names (the working directory otherwise).
inline std::string BuildPath(const std::string& relative) {
  const char* build = std::getenv("TIDESYNC_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/" + relative;
}

// The whole text of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
