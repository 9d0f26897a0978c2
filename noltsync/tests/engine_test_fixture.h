// A sandbox, a loaded context for provider "prov" and the process user, a driven clock and a
// captured host log for each engine test, with helpers for the "Sync" settings and the
// registry values the engine reads and writes.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/time/hx_time.h"
#include "platform/clock.h"
#include "scoped_sandbox.h"

struct CapturedLogLine {
  uint32_t level;  // in an expectation, 0 is any level
  std::string text;
};

class EngineTest : public ::testing::Test {
 protected:
  static constexpr const char* kProvider = "prov";
  static constexpr const char* kUser = "tester";  // the process user, so a reload keeps it
  static constexpr const char* kServer = "http://host/path";

  EngineTest();
  ~EngineTest() override;

  // A value of the context's "Sync" section.
  static void SetSync(const char* key, const std::string& value);
  // Values of the user's provider key (or its subkey), and of the service account's key below
  // the provider key.
  static void PutUserDword(const char* name, uint32_t value, const char* subKey = nullptr);
  static void PutUserString(const char* name, const std::string& text,
                            const char* subKey = nullptr);
  static void PutServiceDword(const char* name, uint32_t value);
  static void PutServiceString(const char* name, const std::string& text);
  // The user's values; UserString is false when the value cannot be read.
  static bool UserString(const char* name, std::string& text);
  static uint32_t UserDword(const char* name);
  static bool UserValueExists(const char* name);
  // A stored "<name>Hex" time; the zero time when absent.
  static HxTime StoredTime(const char* name);

  HxTime Now() const { return HxTime::Now(); }
  // Moves the driven clock forwards by a number of seconds.
  void AdvanceSeconds(uint64_t seconds) { clock_.Advance(seconds * 1000); }

  // The captured lines since the test began or the last ClearLog.
  static std::vector<CapturedLogLine> Log();
  static void ClearLog();
  // A line with exactly this text (and level, when not 0) was logged.
  static bool Logged(const std::string& text, uint32_t level = 0);
  static int CountLogged(const std::string& prefix);
  // These lines were logged in this order; a text without a closing line feed is a prefix.
  static ::testing::AssertionResult LoggedInOrder(const std::vector<CapturedLogLine>& lines);
  // Runs `action` on the logging thread the next time a line beginning with `prefix` is logged.
  static void OnLogLine(const std::string& prefix, std::function<void()> action);

 private:
  platform::testing::ScopedSandbox sandbox_;
  platform::DrivenClock clock_;
};
