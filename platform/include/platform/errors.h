// System error numbers in Windows' numbering, so that log lines print the numbers they name,
// and the calling thread's last error.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

enum SystemError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorNoMoreFiles = 18,
  kErrorWriteProtect = 19,
  kErrorNotSameDevice = 17,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorNotSupported = 50,
  kErrorBadNetPath = 53,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorDirNotEmpty = 145,
  kErrorBusy = 170,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
  kErrorDirectory = 267,
  kErrorPipeBusy = 231,
  kErrorNoData = 232,
  kErrorPipeNotConnected = 233,
  kErrorMoreData = 234,
  kErrorWaitTimeout = 258,
  kErrorNoMoreItems = 259,
  kErrorNotOwner = 288,
  kErrorTooManyPosts = 298,
  kErrorIoDevice = 1117,
  kErrorInvalidThreadId = 1444,
  kErrorTimeout = 1460,
  kErrorNotEnoughQuota = 1816,
};

// The calling thread's last error, as GetLastError/SetLastError keep it.
uint32_t LastError();
void SetLastError(uint32_t code);

// Maps an errno value to the Windows error number (one table for the whole system); an errno
// without an entry maps to 31 (kErrorGenFailure).
uint32_t ErrorFromErrno(int errnoValue);

// Sets the thread's last error from errno and returns it.
uint32_t SetLastErrorFromErrno();

// The system's message text for an error number, as FormatMessage gives it ("The system cannot
// find the file specified.\r\n"). False when the system has no text for the number.
bool SystemErrorMessage(uint32_t code, std::string& message);

}  // namespace platform
