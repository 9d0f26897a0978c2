// A fresh sandbox, context store and machine id for each context test, and raw registry access.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "foundation/context/context_store.h"
#include "foundation/context/machine_id.h"
#include "foundation/strings/hx_str.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

class ContextTest : public ::testing::Test {
 protected:
  static constexpr const char* kProviderKey = "SOFTWARE\\Strovane\\ProviderList\\prov";

  explicit ContextTest(const char* processUser = "tester") : sandbox_(processUser) {
    ClearContextStore();
    ForgetMachineId();
  }
  ~ContextTest() override {
    ClearContextStore();
    ForgetMachineId();
  }

  static std::string S(const HxStr& text) { return std::string(text.c_str()); }
  static std::string Value(const char* key) { return S(GetContextValue(key)); }

  // Runs `body` on a thread of its own and waits for it.
  template <typename Body>
  static void OnOtherThread(Body body) {
    std::thread(body).join();
  }

  // Writes a value into a key created as needed (a string with its terminating zero).
  static void PutRaw(uint32_t root, const std::string& path, const char* name, uint32_t type,
                     const std::vector<uint8_t>& data) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Create(root, path, platform::kKeyAllAccess), 0u);
    ASSERT_EQ(key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())), 0u);
  }
  static void PutText(uint32_t root, const std::string& path, const char* name,
                      const std::string& text) {
    PutRaw(root, path, name, platform::kRegSz, platform::RegistryStringData(text));
  }
  // The raw value; false when absent.
  static bool GetRaw(uint32_t root, const std::string& path, const char* name,
                     platform::RegistryValue& value) {
    platform::RegistryKey key;
    return key.Open(root, path, platform::kKeyRead) == 0 && key.QueryValue(name, value) == 0;
  }
  static void DeleteValue(uint32_t root, const std::string& path, const char* name) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(root, path, platform::kKeyAllAccess), 0u);
    ASSERT_EQ(key.DeleteValue(name), 0u);
  }

  const std::string& Root() const { return sandbox_.Root(); }

 private:
  platform::testing::ScopedSandbox sandbox_;
};
