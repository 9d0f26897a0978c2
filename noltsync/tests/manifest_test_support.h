// A sandbox, a loaded context for provider "prov", a captured host log and a stand-in for the
// inventory macro expander, for the manifest and rule-script tests.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "host_log_capture.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "scoped_sandbox.h"

// Expands the tokens it knows and leaves the others; false for a text without any
// "%class::instance::property%" token, as the real expander does.
class FakeHarvest : public SdcSyncDataHarvestEx {
 public:
  void Define(const std::string& token, const std::string& value) { m_values[token] = value; }
  bool Translate(HxStr text, HxStr& out) override;
  int TranslateCalls() const { return m_calls; }

 protected:
  void Collect() override {}

 private:
  std::map<std::string, std::string> m_values;
  int m_calls = 0;
};

class ManifestTest : public ::testing::Test {
 protected:
  static constexpr const char* kProvider = "prov";

  ManifestTest();
  ~ManifestTest() override;

  // Writes `bytes` to a file below the sandbox root and returns its path.
  std::string WriteFile(const std::string& name, std::string_view bytes) const;
  // The captured lines of `level` whose text equals `text`.
  int CountLogged(uint32_t level, const std::string& text) const;
  const std::vector<LoggedLine>& Log() const { return log_.Lines(); }

  static std::string S(const HxStr& text) { return std::string(std::string_view(text)); }

 private:
  platform::testing::ScopedSandbox sandbox_;
  HostLogCapture log_;
};
