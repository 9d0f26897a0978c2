// HxTrace: low-level trace of the foundation code to the debugger output
// (platform::OutputDebugText), filtered by a category mask and a level mask (both 1 unless set
// otherwise).
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

enum TraceCategory : uint32_t {
  kTraceGeneral = 1,   // processes, sessions, user names, locks, error reports
  kTraceFiles = 2,     // key-value parsing, copying, removing directories, splitting locations
  kTraceRegistry = 4,  // registry tree reading
};

enum TraceLevel : uint32_t {
  kTraceLevel1 = 1,  // errors and notable events
  kTraceLevel2 = 2,  // output of child processes, fallbacks
  kTraceLevel8 = 8,  // verbose detail
};

class HxTrace {
 public:
  // A trace line holds at most this many characters; longer output is cut.
  static constexpr size_t kMaxLineLength = 511;
  static constexpr uint32_t kDefaultMask = 1;

  // The process-wide trace.
  static HxTrace& Instance();

  // Each emits one line when both masks admit it: cut to kMaxLineLength, with a line feed
  // appended when the text has none and room remains.
  void TraceL1(uint32_t category, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void TraceL2(uint32_t category, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void TraceL8(uint32_t category, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // True when a message of this category and level passes both masks.
  bool Admits(uint32_t category, uint32_t level) const;

  void SetMasks(uint32_t traceMask, uint32_t levelMask);
  uint32_t TraceMask() const { return m_traceMask.load(std::memory_order_relaxed); }
  uint32_t LevelMask() const { return m_levelMask.load(std::memory_order_relaxed); }

 private:
  void Emit(uint32_t level, uint32_t category, const char* format, va_list args)
      __attribute__((format(printf, 4, 0)));

  std::atomic<uint32_t> m_traceMask{kDefaultMask};
  std::atomic<uint32_t> m_levelMask{kDefaultMask};
};
