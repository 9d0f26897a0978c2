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
CapturedLogLine g_hookLine;  // the prefix that runs the hook
std::function<void()> g_hook;

extern "C" void CaptureHostLog(uint32_t, uint32_t level, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back({level, text});
    if (g_hook && g_log.back().text.starts_with(g_hookLine.text)) hook.swap(g_hook);
  }
  if (hook) hook();
}

// An expected line: the same level (unless 0) and text, or prefix when it has no line feed.
bool Matches(const CapturedLogLine& line, const CapturedLogLine& expected) {
  const bool prefix = expected.text.empty() || expected.text.back() != '\n';
  return (expected.level == 0 || line.level == expected.level) &&
         (prefix ? line.text.starts_with(expected.text) : line.text == expected.text);
}

void ServiceKey(platform::RegistryKey& key, const char* provider) {
  const std::string path =
      std::string(provider_store::kProviderListKey) + provider + "\\users\\SYSTEM";
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, path, platform::kKeyAllAccess), 0u);
}

}  // namespace

EngineTest::EngineTest() : sandbox_(kUser) {
  platform::InstallClock(&clock_);
  ClearContextStore();
  ResetPreviousUpdateFrequency();
  NoltSyncBase::ResetIpCacheForTesting();
  SetHostLogger(&CaptureHostLog);
  EXPECT_TRUE(LoadContext(kProvider, kServer, kUser, false));
  ClearLog();
}

EngineTest::~EngineTest() {
  OnLogLine("", nullptr);
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

void EngineTest::PutServiceDword(const char* name, uint32_t value) {
  platform::RegistryKey key;
  ServiceKey(key, kProvider);
  ASSERT_EQ(key.SetDword(name, value), 0u);
}

void EngineTest::PutServiceString(const char* name, const std::string& text) {
  platform::RegistryKey key;
  ServiceKey(key, kProvider);
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
  platform::RegistryValue value;
  return provider_store::OpenProviderKey(key, provider_store::kStoreReadAccess, nullptr, true) ==
             0 &&
         key.QueryValue(name, value) == 0;
}

HxTime EngineTest::StoredTime(const char* name) {
  std::string text;
  return UserString((std::string(name) + "Hex").c_str(), text) ? HxTime(text.c_str()) : HxTime();
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
  for (const CapturedLogLine& line : Log()) count += line.text.starts_with(prefix) ? 1 : 0;
  return count;
}

::testing::AssertionResult EngineTest::LoggedInOrder(const std::vector<CapturedLogLine>& lines) {
  const std::vector<CapturedLogLine> log = Log();
  size_t at = 0;
  for (const CapturedLogLine& expected : lines) {
    while (at < log.size() && !Matches(log[at], expected)) ++at;
    if (at++ == log.size()) {
      return ::testing::AssertionFailure()
             << "not logged in order: [" << expected.level << "] " << expected.text;
    }
  }
  return ::testing::AssertionSuccess();
}

void EngineTest::OnLogLine(const std::string& prefix, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_hookLine.text = prefix;
  g_hook = std::move(action);
}
