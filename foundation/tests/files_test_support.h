// A fresh sandbox for each file-operation test, with helpers to make and read small files.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "scoped_sandbox.h"

class FilesTest : public ::testing::Test {
 protected:
  FilesTest();
  ~FilesTest() override;

  // A path below the test's own directory.
  std::string At(const std::string& relative) const { return dir_ + "/" + relative; }
  static void Write(const std::string& path, const std::string& text);
  static std::string Read(const std::string& path);
  static bool Exists(const std::string& path);
  // The lines of the pending-operations list ("" when there is none).
  static std::string PendingList();

 private:
  platform::testing::ScopedSandbox sandbox_;
  std::string dir_;
  bool deleteDeferral_;
  bool replaceDeferral_;
  bool restartPending_;
};
