#include "engine_test_fixture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "foundation/context/context_store.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/engine/nolt_sync_base.h"
#include "noltsync/engine/schedule.h"
#include "platform/registry.h"

namespace {

std::mutex g_logMutex;
std::vector<CapturedLogLine> g_log;

extern "C" void CaptureHostLog(uint32_t category, uint32_t level, const char* format, ...) {
  (void)category;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_log.push_back({level, text});
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

EngineTest::EngineTest() : sandbox_("tester") {
  platform::InstallClock(&clock_);
  ClearContextStore();
  ResetPreviousUpdateFrequency();
  NoltSyncBase::ResetIpCacheForTesting();
  SetHostLogger(&CaptureHostLog);
  EXPECT_TRUE(LoadContext(kProvider, kServer, kUser, false));
  ClearLog();
}

EngineTest::~EngineTest() {
  ClearContextStore();
  platform::InstallClock(nullptr);
}

void EngineTest::SetSync(const char* key, const std::string& value) {
  HxKVListMap sections;
  sections.AddSection("Sync").Put(key, HxStr(value));
  MergeContext(sections, true, false);
}

void EngineTest::PutUserDword(const char* name, uint32_t value, const char* subKey) {
  ASSERT_EQ(provider_store::WriteDword(subKey, name, value, true), 0u);
}

void EngineTest::PutUserString(const char* name, const std::string& text, const char* subKey) {
  ASSERT_EQ(provider_store::WriteString(subKey, name, text.c_str(), true), 0u);
}

namespace {

void CreateServiceKey(platform::RegistryKey& key, const char* provider) {
  const std::string path = std::string(provider_store::kProviderListKey) + provider +
                           "\\users\\SYSTEM";
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, path, platform::kKeyAllAccess), 0u);
}

}  // namespace

void EngineTest::PutServiceDword(const char* name, uint32_t value) {
  platform::RegistryKey key;
  CreateServiceKey(key, kProvider);
  ASSERT_EQ(key.SetDword(name, value), 0u);
}

void EngineTest::PutServiceString(const char* name, const std::string& text) {
  platform::RegistryKey key;
  CreateServiceKey(key, kProvider);
  ASSERT_EQ(key.SetString(name, text), 0u);
}

bool EngineTest::UserString(const char* name, std::string& text) {
  HxStr value;
  if (provider_store::ReadString(nullptr, name, value, true) != 0) return false;
  text = value.c_str();
  return true;
}

uint32_t EngineTest::UserDword(const char* name) {
  uint32_t value = 0;
  provider_store::ReadDword(nullptr, name, value, true);
  return value;
}

bool EngineTest::UserValueExists(const char* name) {
  platform::RegistryKey key;
  if (provider_store::OpenProviderKey(key, provider_store::kStoreReadAccess, nullptr, true) != 0) {
    return false;
  }
  platform::RegistryValue value;
  return key.QueryValue(name, value) == 0;
}

HxTime EngineTest::StoredTime(const char* name) {
  std::string text;
  if (!UserString((std::string(name) + "Hex").c_str(), text)) return HxTime();
  return HxTime(text.c_str());
}

std::vector<CapturedLogLine> EngineTest::Log() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  return g_log;
}

void EngineTest::ClearLog() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_log.clear();
}

bool EngineTest::Logged(const std::string& text, uint32_t level) {
  for (const CapturedLogLine& line : Log()) {
    if (line.text == text && (level == 0 || line.level == level)) return true;
  }
  return false;
}

int EngineTest::CountLogged(const std::string& prefix) {
  int count = 0;
  for (const CapturedLogLine& line : Log()) count += StartsWith(line.text, prefix) ? 1 : 0;
  return count;
}

int EngineTest::IndexOf(const std::string& prefix) {
  const std::vector<CapturedLogLine> lines = Log();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i].text, prefix)) return static_cast<int>(i);
  }
  return -1;
}
