// The error store: failed foundation operations record a numbered error with its message in the
// calling thread's list (or in the process-wide shared list), and trace it. Callers compare
// ErrorCount() before and after an operation to see whether it raised errors.
//
// Codes: 10000..11003 socket errors, 2100..5798 network errors, codes with bit 0x20000000 the
// system's own (their message templates come from the string table), others system errors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "foundation/log/hx_err.h"

// Each list holds at most this many records; an error raised on a full list is dropped untraced.
inline constexpr size_t kMaxErrorRecords = 200;

enum class ErrorList { Thread, Shared };

// Records `code` with its message template formatted with the variable arguments.
void RaiseErrorInList(ErrorList list, uint32_t code, ...);

// Records an error in the calling thread's list.
template <typename... Args>
inline void RaiseError(uint32_t code, Args... args) {
  static_assert((std::is_scalar_v<Args> && ...),
                "error arguments are passed to printf: use c_str() for strings");
  RaiseErrorInList(ErrorList::Thread, code, args...);
}

// Records an error in the process-wide shared list (the HTTP transfer object's).
template <typename... Args>
inline void RaiseSharedError(uint32_t code, Args... args) {
  static_assert((std::is_scalar_v<Args> && ...),
                "error arguments are passed to printf: use c_str() for strings");
  RaiseErrorInList(ErrorList::Shared, code, args...);
}

// Records the calling thread's last system error with the system's message.
void RaiseLastError();
// Records a given system error code with the system's message.
void RaiseSystemError(uint32_t code);

// Number of records in the calling thread's list, and its most recent record (false if none).
size_t ErrorCount();
bool LastErrorRecord(HxErr& record);

// The same for the shared list.
size_t SharedErrorCount();
bool LastSharedErrorRecord(HxErr& record);
