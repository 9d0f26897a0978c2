// A sandbox per zip catalog test, archives made on the spot, and the host log of the test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host_log_capture.h"
#include "scoped_sandbox.h"

// Entry name and content; a name ending in '/' is a directory entry.
using ZipEntries = std::vector<std::pair<std::string, std::string>>;

class ZipCatalogTest : public ::testing::Test {
 protected:
  ZipCatalogTest();
  ~ZipCatalogTest() override;

  std::string At(const std::string& relative) const { return dir_ + "/" + relative; }
  // Writes an archive; `stored` keeps the contents uncompressed so that tests can find them.
  static void MakeZip(const std::string& path, const ZipEntries& entries, bool stored = false);
  static void Write(const std::string& path, const std::string& text);
  static std::string Read(const std::string& path);
  static bool Exists(const std::string& path);
  // Files below `directory` whose names start with the temporary prefix.
  static std::vector<std::string> TemporaryFiles(const std::string& directory);
  // The formatted lines logged at level 1 since the test began.
  std::vector<std::string> DetailLines() const;

  HostLogCapture log_;

 private:
  platform::testing::ScopedSandbox sandbox_;
  std::string dir_;
  bool deleteDeferral_;
};
