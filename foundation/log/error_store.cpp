#include "foundation/log/error_store.h"

#include <cstdarg>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "foundation/log/hx_trace.h"
#include "foundation/strings/string_table.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

// The error reporter's name in its trace lines.
constexpr const char* kSourceName = "cross\\util\\rierror";

constexpr uint32_t kFirstSocketError = 10000;
constexpr uint32_t kLastSocketError = 11003;
constexpr uint32_t kFirstNetworkError = 2100;
constexpr uint32_t kLastNetworkError = 5798;

// The per-thread lists (created on a thread's first use, kept when it ends) and the shared list,
// all guarded by one mutex. Each thread appends only to its own list.
class ErrorStore {
 public:
  bool IsFull(ErrorList list) {
    std::lock_guard lock(m_mutex);
    return ListOf(list).size() >= kMaxErrorRecords;
  }

  // False when the list filled up meanwhile (the shared list has several writers).
  bool Record(ErrorList list, uint32_t code, const HxStr& message) {
    std::lock_guard lock(m_mutex);
    std::vector<HxErr>& records = ListOf(list);
    if (records.size() >= kMaxErrorRecords) return false;
    records.emplace_back(code, message);
    return true;
  }

  size_t Count(ErrorList list) {
    std::lock_guard lock(m_mutex);
    return ListOf(list).size();
  }

  bool Last(ErrorList list, HxErr& record) {
    std::lock_guard lock(m_mutex);
    const std::vector<HxErr>& records = ListOf(list);
    if (records.empty()) return false;
    record = records.back();
    return true;
  }

 private:
  std::vector<HxErr>& ListOf(ErrorList list) {
    if (list == ErrorList::Shared) return m_shared;
    return m_perThread[std::this_thread::get_id()];
  }

  std::mutex m_mutex;
  std::unordered_map<std::thread::id, std::vector<HxErr>> m_perThread;
  std::vector<HxErr> m_shared;
};

ErrorStore& Store() {
  static ErrorStore store;
  return store;
}

std::string ModuleString(uint32_t id) {
  std::string text;
  LoadModuleString(id, text);
  return text;
}

// A system error with the system's message, or "Unknown Error: <code>" where it has none.
void RecordSystemError(ErrorList list, uint32_t code) {
  if (Store().IsFull(list)) return;
  std::string text;
  HxStr message;
  if (platform::SystemErrorMessage(code, text)) {
    message = text;
  } else {
    message.Format(ModuleString(kStringUnknownError).c_str(), static_cast<long>(code));
  }
  if (!Store().Record(list, code, message)) return;
  HxTrace::Instance().TraceL1(kTraceGeneral, "%s(%d): [%x] Error: %s", kSourceName, __LINE__,
                              platform::CurrentThreadId(), message.c_str());
}

void RecordSocketError(ErrorList list, uint32_t code) {
  std::string text = ModuleString(code);
  HxStr message;
  message.Format("Socket Error: %s", text.c_str());
  if (!Store().Record(list, code, message)) return;
  HxTrace::Instance().TraceL1(kTraceGeneral, "%s(%d): [%x] Socket Error: %ld - %s", kSourceName,
                              __LINE__, platform::CurrentThreadId(), static_cast<long>(code),
                              text.c_str());
}

// The system's own codes take their template from the string table; anything else is "unknown".
void RecordFormattedError(ErrorList list, uint32_t code, va_list args) {
  std::string format;
  if ((code & kOwnErrorFlag) == 0 || !LoadModuleString(OwnErrorTemplateId(code), format) ||
      format.empty()) {
    format = ModuleString(kStringUnknown);
  }
  HxStr message;
  if (format.empty()) {
    message.Format("Could not find message for error %d.", static_cast<int>(code));
  } else {
    message.FormatV(format.c_str(), args);
  }
  if (!Store().Record(list, code, message)) return;
  HxTrace::Instance().TraceL1(kTraceGeneral, "%s(%d): [%x] Error: %s (%d)", kSourceName, __LINE__,
                              platform::CurrentThreadId(), message.c_str(), static_cast<int>(code));
}

}  // namespace

void RaiseErrorInList(ErrorList list, uint32_t code, ...) {
  if (Store().IsFull(list)) return;
  if (code >= kFirstSocketError && code <= kLastSocketError) {
    RecordSocketError(list, code);
  } else if (code >= kFirstNetworkError && code <= kLastNetworkError) {
    RecordSystemError(list, code);
  } else {
    va_list args;
    va_start(args, code);
    RecordFormattedError(list, code, args);
    va_end(args);
  }
}

void RaiseLastError() { RecordSystemError(ErrorList::Thread, platform::LastError()); }

void RaiseSystemError(uint32_t code) { RecordSystemError(ErrorList::Thread, code); }

size_t ErrorCount() { return Store().Count(ErrorList::Thread); }

bool LastErrorRecord(HxErr& record) { return Store().Last(ErrorList::Thread, record); }

size_t SharedErrorCount() { return Store().Count(ErrorList::Shared); }

bool LastSharedErrorRecord(HxErr& record) { return Store().Last(ErrorList::Shared, record); }
