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
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  // Runs `templateText` through the collector and reads the result back, each instance as
  // "Class/key" and the values of the named properties ("?" for an absent one), joined by " ".
  std::string Collect(const std::string& templateText,
                      std::initializer_list<const char*> properties) {
    EXPECT_TRUE(collector.Run(Write("template.xml", templateText), Path("result.xml"), "Issue"));
    SdcHarvestCollection collection;
    EXPECT_TRUE(ReadUploadInfo(Path("result.xml"), collection));
    std::string text;
    for (const SdcHarvestInstance& instance : collection) {
      text += std::string(text.empty() ? "" : " ") + instance.className.c_str() + "/" +
              instance.key.c_str();
      for (const char* name : properties) {
        HxStr value;
        text += std::string(" ") + name + "=" +
                (instance.properties.Get(name, value) ? value.c_str() : "?");
      }
    }
    return text;
  }

  // The rejection lines of the last run as "No.N (reason)", joined by "|".
  std::string Rejections() const {
    std::string text;
    for (const HxStr& line : collector.Rejections()) {
      const std::string whole = line.c_str();
      const size_t reason = whole.find("good format. ") + 13;
      text += (text.empty() ? "" : "|") + whole.substr(0, whole.find(" node under")) + " " +
              whole.substr(reason, whole.size() - reason - 1);
    }
    return text;
  }

  platform::testing::ScopedSandbox sandbox_;
  SandboxSystem system;
  InventoryCollector collector{&system};
};
