// Listing a registry key of many values and a key of as many subkeys: `noltreg query` of each
// (in process, output discarded), enumeration by index through RegistryKey, and QueryInfo.
// Runs in a temporary sandbox. Goal: each listing of 20,000 entries in at most 1 s.
//
//   registry_listing [COUNT]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "commands.h"
#include "platform/registry.h"

namespace {

constexpr double kGoalSeconds = 1.0;
constexpr const char* kValuesKey = "Software\\Listing\\Values";
constexpr const char* kKeysKey = "Software\\Listing\\Keys";

double Seconds(const std::function<bool()>& body, bool& ok) {
  auto start = std::chrono::steady_clock::now();
  ok = body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Fill(int count) {
  platform::RegistryTransaction transaction;
  platform::RegistryKey values;
  platform::RegistryKey keys;
  if (values.Create(platform::kHkeyCurrentUser, kValuesKey, platform::kKeyAllAccess) != 0 ||
      keys.Create(platform::kHkeyCurrentUser, kKeysKey, platform::kKeyAllAccess) != 0) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    std::string name = "entry" + std::to_string(i);
    platform::RegistryKey child;
    if (values.SetString(name, "some text of an ordinary length " + name) != 0 ||
        child.Create(keys, name, platform::kKeyRead) != 0) {
      return false;
    }
  }
  return transaction.Commit() == 0;
}

bool Query(const char* key) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  return noltreg::RunNoltreg({"query", std::string("HKCU\\") + key}, in, out, err) == 0;
}

bool EnumerateValues(int count) {
  platform::RegistryKey key;
  if (key.Open(platform::kHkeyCurrentUser, kValuesKey, platform::kKeyRead) != 0) return false;
  platform::RegistryValue value;
  int seen = 0;
  while (key.EnumValue(static_cast<uint32_t>(seen), value) == 0) ++seen;
  return seen == count;
}

bool EnumerateKeys(int count) {
  platform::RegistryKey key;
  if (key.Open(platform::kHkeyCurrentUser, kKeysKey, platform::kKeyRead) != 0) return false;
  std::string name;
  int seen = 0;
  while (key.EnumKey(static_cast<uint32_t>(seen), name) == 0) ++seen;
  return seen == count;
}

bool Info(int count) {
  platform::RegistryKey key;
  platform::RegistryKeyInfo info;
  return key.Open(platform::kHkeyCurrentUser, kValuesKey, platform::kKeyRead) == 0 &&
         key.QueryInfo(info) == 0 && info.values == static_cast<uint32_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  char pattern[] = "/tmp/registry_listing.XXXXXX";
  if (count <= 0 || mkdtemp(pattern) == nullptr) return 2;
  setenv("NOLT_ROOT", pattern, 1);
  setenv("NOLT_USER", "bench", 1);

  bool ok = false;
  double fill = Seconds([&] { return Fill(count); }, ok);
  std::printf("filled %d values and %d subkeys in %.2f s\n", count, count, fill);
  struct Measure {
    const char* name;
    std::function<bool()> body;
  };
  const std::vector<Measure> measures = {
      {"registry_listing.query_values", [] { return Query(kValuesKey); }},
      {"registry_listing.query_subkeys", [] { return Query(kKeysKey); }},
      {"registry_listing.enum_values", [count] { return EnumerateValues(count); }},
      {"registry_listing.enum_keys", [count] { return EnumerateKeys(count); }},
      {"registry_listing.query_info", [count] { return Info(count); }},
  };
  for (size_t i = 0; ok && i < measures.size(); ++i) {
    double seconds = Seconds(measures[i].body, ok);
    if (ok) ReportResult(measures[i].name, seconds, BenchGoal::kAtMost, kGoalSeconds, "s");
  }
  std::printf("(%d entries each)\n", count);
  std::filesystem::remove_all(pattern);
  return ok ? 0 : 1;
}
