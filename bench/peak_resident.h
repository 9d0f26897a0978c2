// The peak resident size of this process so far, for the benchmarks that bound memory growth.
#pragma once
#include <cstdlib>
#include <fstream>
#include <string>

// VmHWM of /proc/self/status, in KiB; 0 when unknown.
inline long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}
