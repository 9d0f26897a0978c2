// A sandbox and a fresh context store for each XML tree test, and file helpers.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "foundation/context/context_store.h"
#include "foundation/strings/hx_str.h"
#include "scoped_sandbox.h"

class XmlTest : public ::testing::Test {
 protected:
  XmlTest() { ClearContextStore(); }
  ~XmlTest() override { ClearContextStore(); }

  static std::string S(const HxStr& text) { return std::string(std::string_view(text)); }

  std::filesystem::path Root() const { return sandbox_.Root(); }

  // Writes `bytes` to a file below the sandbox root and returns its path.
  std::string WriteFile(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path path = Root() / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path.string();
  }

  // `piece` repeated until the text holds at least `bytes` bytes.
  static std::string Repeat(const std::string& piece, size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += piece;
    return text;
  }

  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // How many files in `directory` have names that start with `prefix`.
  static int CountFiles(const std::filesystem::path& directory, std::string_view prefix) {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
      if (entry.path().filename().string().starts_with(prefix)) ++count;
    }
    return count;
  }

 private:
  platform::testing::ScopedSandbox sandbox_;
};
