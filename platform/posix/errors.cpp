#include "platform/errors.h"

#include <cerrno>
#include <iterator>

namespace platform {
namespace {

thread_local uint32_t tLastError = kErrorSuccess;

struct ErrnoMapping {
  int errnoValue;
  uint32_t code;
};

// The one errno table of the system.
constexpr ErrnoMapping kErrnoTable[] = {
    {0, kErrorSuccess},
    {EPERM, kErrorAccessDenied},
    {ENOENT, kErrorFileNotFound},
    {ESRCH, kErrorInvalidParameter},
    {EINTR, kErrorGenFailure},
    {EIO, kErrorIoDevice},
    {ENXIO, kErrorFileNotFound},
    {E2BIG, kErrorInvalidParameter},
    {EBADF, kErrorInvalidHandle},
    {EAGAIN, kErrorLockViolation},
    {ENOMEM, kErrorNotEnoughMemory},
    {EACCES, kErrorAccessDenied},
    {EFAULT, kErrorInvalidParameter},
    {EBUSY, kErrorBusy},
    {EEXIST, kErrorFileExists},
    {EXDEV, kErrorNotSameDevice},
    {ENODEV, kErrorPathNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {EISDIR, kErrorAccessDenied},
    {EINVAL, kErrorInvalidParameter},
    {ENFILE, kErrorTooManyOpenFiles},
    {EMFILE, kErrorTooManyOpenFiles},
    {ETXTBSY, kErrorSharingViolation},
    {EFBIG, kErrorDiskFull},
    {ENOSPC, kErrorDiskFull},
    {ESPIPE, kErrorInvalidParameter},
    {EROFS, kErrorWriteProtect},
    {EMLINK, kErrorAccessDenied},
    {EPIPE, kErrorBrokenPipe},
    {ENAMETOOLONG, kErrorFilenameTooLong},
    {ENOSYS, kErrorInvalidFunction},
    {ENOTEMPTY, kErrorDirNotEmpty},
    {ELOOP, kErrorAccessDenied},
    {ENODATA, kErrorHandleEof},
    {EOVERFLOW, kErrorInvalidData},
    {EILSEQ, kErrorInvalidData},
    {ENOTSUP, kErrorNotSupported},
    {ECONNREFUSED, kErrorFileNotFound},
    {ECONNRESET, kErrorBrokenPipe},
    {ENOTCONN, kErrorPipeNotConnected},
    {ETIMEDOUT, kErrorTimeout},
    {EHOSTUNREACH, kErrorBadNetPath},
    {ENETUNREACH, kErrorBadNetPath},
    {EDQUOT, kErrorDiskFull},
};

struct MessageText {
  uint32_t code;
  const char* text;
};

// FormatMessage's texts for the numbers this system reports.
constexpr MessageText kMessageTable[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorInvalidFunction, "Incorrect function."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorPathNotFound, "The system cannot find the path specified."},
    {kErrorTooManyOpenFiles, "The system cannot open the file."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {kErrorInvalidData, "The data is invalid."},
    {kErrorNotSameDevice, "The system cannot move the file to a different disk drive."},
    {kErrorNoMoreFiles, "There are no more files."},
    {kErrorWriteProtect, "The media is write protected."},
    {kErrorGenFailure, "A device attached to the system is not functioning."},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrorLockViolation,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {kErrorHandleEof, "Reached the end of the file."},
    {kErrorNotSupported, "The request is not supported."},
    {kErrorBadNetPath, "The network path was not found."},
    {kErrorFileExists, "The file exists."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorBrokenPipe, "The pipe has been ended."},
    {kErrorDiskFull, "There is not enough space on the disk."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrorDirNotEmpty, "The directory is not empty."},
    {kErrorBusy, "The requested resource is in use."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorFilenameTooLong, "The filename or extension is too long."},
    {kErrorPipeBusy, "All pipe instances are busy."},
    {kErrorNoData, "The pipe is being closed."},
    {kErrorPipeNotConnected, "No process is on the other end of the pipe."},
    {kErrorMoreData, "More data is available."},
    {kErrorWaitTimeout, "The wait operation timed out."},
    {kErrorNoMoreItems, "No more data is available."},
    {kErrorDirectory, "The directory name is invalid."},
    {kErrorNotOwner, "Attempt to release mutex not owned by caller."},
    {kErrorTooManyPosts, "Too many posts were made to a semaphore."},
    {kErrorIoDevice, "The request could not be performed because of an I/O device error."},
    {kErrorInvalidThreadId, "Invalid thread identifier."},
    {kErrorTimeout, "This operation returned because the timeout period expired."},
    {kErrorNotEnoughQuota, "Not enough quota is available to process this command."},
};

}  // namespace

uint32_t LastError() { return tLastError; }

void SetLastError(uint32_t code) { tLastError = code; }

uint32_t ErrorFromErrno(int errnoValue) {
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (mapping.errnoValue == errnoValue) return mapping.code;
  }
  return kErrorGenFailure;
}

uint32_t SetLastErrorFromErrno() {
  uint32_t code = ErrorFromErrno(errno);
  SetLastError(code);
  return code;
}

bool SystemErrorMessage(uint32_t code, std::string& message) {
  for (const MessageText& entry : kMessageTable) {
    if (entry.code == code) {
      message = entry.text;
      message += "\r\n";
      return true;
    }
  }
  return false;
}

}  // namespace platform
