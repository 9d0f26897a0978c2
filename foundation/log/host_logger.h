// The host logger: the callback that the host hands over with property "LOGGER". Every
// operational message of the plug-in goes through it as (category 4096, level, format, args...),
// so the host receives the format and its arguments exactly as the system wrote them.
#pragma once
#include <cstdint>
#include <type_traits>

// The host's callback: caller cleans the stack, variable arguments, return value unused.
extern "C" {
typedef void (*HostLoggerFn)(uint32_t category, uint32_t level, const char* format, ...);
}

inline constexpr uint32_t kLogCategory = 4096;

enum LogLevel : uint32_t {
  kLogDetail = 1,
  kLogInfo = 2,
  kLogWarning = 4,
  kLogError = 8,
};

// The process-wide logger; null until the host sets it. Never cleared once set.
HostLoggerFn CurrentHostLogger();
void SetHostLogger(HostLoggerFn logger);

// Logs one message through the host's callback; dropped while no logger is set.
template <typename... Args>
inline void HostLog(uint32_t level, const char* format, Args... args) {
  static_assert((std::is_scalar_v<Args> && ...),
                "log arguments are passed to printf: use c_str() for strings");
  if (HostLoggerFn logger = CurrentHostLogger()) {
    logger(kLogCategory, level, format, args...);
  }
}
