// A sandbox, a loaded context for provider "prov", a captured host log and the inventory macro
// expander over a fixed collection, for the manifest and rule-script tests.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "foundation/context/context_store.h"
#include "host_log_capture.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "scoped_sandbox.h"

// The real expander over instances the test adds instead of collected ones; counts its calls.
class FixedHarvest : public SdcSyncDataHarvestEx {
 public:
  void Add(const char* className,
           std::initializer_list<std::pair<const char*, const char*>> properties) {
    SdcHarvestInstance instance;
    instance.className = className;
    instance.key = "k";
    for (const auto& [name, value] : properties) instance.properties.Put(name, value);
    m_collection.push_back(std::move(instance));
  }
  bool Translate(HxStr text, HxStr& out) override {
    ++calls;
    return SdcSyncDataHarvestEx::Translate(text, out);
  }
  int calls = 0;

 protected:
  void Collect() override {}
};

class ManifestTest : public ::testing::Test {
 protected:
  ManifestTest() {
    ClearContextStore();
    EXPECT_TRUE(LoadContext("prov", "http://host/path", "tester", false));
  }
  ~ManifestTest() override { ClearContextStore(); }

  // Writes `bytes` to a file below the sandbox root and returns its path.
  std::string WriteFile(const std::string& name, std::string_view bytes) const {
    const std::string path = (std::filesystem::path(sandbox_.Root()) / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  const std::vector<LoggedLine>& Log() const { return log_.Lines(); }
  static std::string S(const HxStr& text) { return std::string(std::string_view(text)); }

 private:
  platform::testing::ScopedSandbox sandbox_;
  HostLogCapture log_;
};
