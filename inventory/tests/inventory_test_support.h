// A sandbox per test with helpers to write template and data files and to run the collector.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "inventory/inventory_collector.h"
#include "inventory/upload_info.h"
#include "scoped_sandbox.h"

// Environment, mounts and packages from the test's own data.
class SandboxSystem : public HarvestSystem {
 public:
  std::vector<std::pair<std::string, std::string>> Environment() const override {
    return environment;
  }
  std::string MountTablePath() const override { return mountTable; }
  std::string PackageDatabasePath() const override { return packages; }

  std::vector<std::pair<std::string, std::string>> environment;
  std::string mountTable;
  std::string packages;
};

class InventorySandboxTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return sandbox_.Root() + "/" + name; }

  std::string Write(const std::string& name, const std::string& text) const {
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Runs `templateText` through the collector and reads the result back.
  SdcHarvestCollection Collect(const std::string& templateText) {
    std::string templatePath = Write("template.xml", templateText);
    std::string resultPath = Path("result.xml");
    EXPECT_TRUE(collector.Run(templatePath, resultPath, "TestIssue"));
    SdcHarvestCollection collection;
    EXPECT_TRUE(ReadUploadInfo(resultPath, collection));
    return collection;
  }

  static std::string Property(const SdcHarvestInstance& instance, const char* name) {
    HxStr value;
    return instance.properties.Get(name, value) ? value.c_str() : "<absent>";
  }

  platform::testing::ScopedSandbox sandbox_;
  SandboxSystem system;
  InventoryCollector collector{&system};
};
