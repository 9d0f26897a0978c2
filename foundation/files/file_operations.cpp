#include "foundation/files/file_operations.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "foundation/files/repair_service.h"
#include "foundation/log/error_store.h"
#include "foundation/log/hx_trace.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/pending_operations.h"

namespace {

constexpr uint32_t kCopyFailedError = 0x20000002;
constexpr uint32_t kErrorCurrentDirectory = 16;
constexpr uint32_t kErrorUserMappedFile = 1224;

// The deferrals of the calling thread; the master switch and restart pending of the process.
thread_local bool t_deleteDeferral = false;
thread_local bool t_replaceDeferral = false;
std::atomic<bool> g_deferralMaster{true};
std::atomic<bool> g_restartPending{false};

bool Swap(std::atomic<bool>& flag, bool on) { return flag.exchange(on, std::memory_order_relaxed); }
bool Swap(bool& flag, bool on) { return std::exchange(flag, on); }
bool Read(const std::atomic<bool>& flag) { return flag.load(std::memory_order_relaxed); }

bool Deferring(bool deferral) { return deferral && Read(g_deferralMaster); }

// Records `code` in the error store, leaves it as the last error and fails.
bool FailWith(uint32_t code) {
  RaiseSystemError(code);
  platform::SetLastError(code);
  return false;
}

std::string WithoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

}  // namespace

bool SetDeleteDeferral(bool on) { return Swap(t_deleteDeferral, on); }
bool SetReplaceDeferral(bool on) { return Swap(t_replaceDeferral, on); }
bool SetDeferralMaster(bool on) { return Swap(g_deferralMaster, on); }
bool SetRestartPending(bool on) { return Swap(g_restartPending, on); }
bool DeleteDeferral() { return t_deleteDeferral; }
bool ReplaceDeferral() { return t_replaceDeferral; }
bool RestartPending() { return Read(g_restartPending); }

bool DeleteFileEx(std::string_view path) {
  const std::string file(path);
  platform::SetReadOnly(file, false);
  if (platform::DeleteFile(file)) return true;
  const uint32_t error = platform::LastError();
  if (Deferring(t_deleteDeferral)) return DeleteAtRestart(file);
  if (error == platform::kErrorAccessDenied && RepairServiceRequest(kRepairDeleteFile, file)) {
    return true;
  }
  return FailWith(error);
}

bool DeleteAtRestart(std::string_view path) {
  const std::string file(path);
  // Nothing there is nothing to schedule (a dangling link is still something to delete).
  if (!platform::PathExists(file)) {
    const uint32_t error = platform::LastError();
    if (!platform::IsSymbolicLink(file)) return FailWith(error);
  }
  if (!platform::ScheduleDeleteAtRestart(file)) return FailWith(platform::LastError());
  SetRestartPending(true);
  return true;
}

bool CopyFileEx(std::string_view source, std::string_view target, unsigned flags) {
  if (source == target) return true;
  const std::string from(source);
  const std::string to(target);
  if (platform::CopyFile(from, to, (flags & kCopyFailIfExists) != 0)) return true;
  uint32_t error = platform::LastError();
  switch (error) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
      if ((flags & kCopyMissingSourceOk) != 0) return false;
      break;
    case platform::kErrorAccessDenied:
      platform::SetReadOnly(to, false);
      if (platform::CopyFile(from, to, (flags & kCopyFailIfExists) != 0)) return true;
      error = platform::LastError();
      if (RepairServiceRequest(kRepairCopyFile, from, to)) return true;
      break;
    case platform::kErrorSharingViolation:
    case platform::kErrorLockViolation:
    case kErrorUserMappedFile:
      if (Deferring(t_replaceDeferral) && ReplaceAtRestart(from, to)) return true;
      break;
    default:
      break;
  }
  RaiseError(kCopyFailedError, from.c_str(), to.c_str());
  HxTrace::Instance().TraceL1(kTraceFiles, "Error [%d] copying [%s] to [%s]",
                              static_cast<int>(error), from.c_str(), to.c_str());
  platform::SetLastError(error);
  return false;
}

bool ReplaceAtRestart(std::string_view source, std::string_view target) {
  const std::string from(source);
  const std::string to(target);
  if (platform::ReplaceFile(from, to)) return true;
  if (platform::LastError() == platform::kErrorNotSameDevice &&
      platform::CopyFileReplace(from, to) && platform::DeleteFile(from)) {
    return true;
  }
  // The replacement waits for the restart: a copy beside the target takes its place then.
  std::string temp;
  if (!platform::CreateTempFile(platform::DirectoryOf(to), "_tu", temp)) {
    return FailWith(platform::LastError());
  }
  if (!platform::CopyFileReplace(from, temp) || !platform::ScheduleReplaceAtRestart(temp, to)) {
    const uint32_t error = platform::LastError();
    platform::DeleteFile(temp);
    return FailWith(error);
  }
  SetRestartPending(true);
  return true;
}

bool CreateDirectoryPath(std::string_view path) {
  const std::string full = WithoutTrailingSlashes(path);
  if (full.empty()) return FailWith(platform::kErrorPathNotFound);
  if (platform::IsDirectory(full)) return true;
  if (platform::PathExists(full)) return FailWith(platform::kErrorAlreadyExists);
  for (size_t slash = full.find('/', 1);; slash = full.find('/', slash + 1)) {
    const std::string prefix = full.substr(0, slash);
    if (!prefix.empty() && prefix.back() != '/' && !platform::IsDirectory(prefix)) {
      if (platform::PathExists(prefix)) return FailWith(platform::kErrorAlreadyExists);
      // The creation's own error: the check behind it (made in a race) would overwrite it.
      const bool created = platform::CreateDirectory(prefix);
      const uint32_t error = platform::LastError();
      if (!created && !platform::IsDirectory(prefix)) {
        if (error != platform::kErrorAccessDenied ||
            !RepairServiceRequest(kRepairCreateDirectory, prefix)) {
          return FailWith(error);
        }
      }
    }
    if (slash == std::string::npos) break;
  }
  return platform::IsDirectory(full);
}

bool RemoveDirectoryTree(std::string_view directory, bool deleteFiles, bool clearAttributes) {
  const std::string root = WithoutTrailingSlashes(directory);
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(root, entries)) return FailWith(platform::LastError());
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string path = root + "/" + entry.name;
    if (entry.isDirectory) {
      if (!RemoveDirectoryTree(path, deleteFiles, clearAttributes)) return false;
      continue;
    }
    if (!deleteFiles) return FailWith(platform::kErrorDirNotEmpty);
    if (clearAttributes) platform::SetReadOnly(path, false);
    if (!platform::DeleteFile(path)) return FailWith(platform::LastError());
  }
  HxTrace::Instance().TraceL8(kTraceFiles, "Removing directory %s", root.c_str());
  return platform::RemoveDirectory(root) || FailWith(platform::LastError());
}

bool RemoveEmptyDirectories(std::string_view path, std::string_view base) {
  std::string directory = WithoutTrailingSlashes(path);
  const std::string floor = WithoutTrailingSlashes(base);
  bool deepest = true;
  while (directory.size() > floor.size() && directory.compare(0, floor.size(), floor) == 0) {
    bool wasReadOnly = false;
    const bool known = platform::IsReadOnly(directory, wasReadOnly);
    platform::SetReadOnly(directory, false);
    if (!platform::RemoveDirectory(directory)) {
      const uint32_t error = platform::LastError();
      if (known && wasReadOnly) platform::SetReadOnly(directory, true);
      if (deepest) {
        HxTrace::Instance().TraceL1(kTraceFiles, "RemoveDir: %s %ld\n", directory.c_str(),
                                    static_cast<long>(error));
        if (error == platform::kErrorAccessDenied || error == kErrorCurrentDirectory ||
            error == platform::kErrorSharingViolation) {
          DeleteAtRestart(directory);
        }
        // The directories above still hold this one.
        return true;
      }
    }
    deepest = false;
    const size_t slash = directory.find_last_of('/');
    if (slash == std::string::npos || slash == 0) break;
    directory.resize(slash);
  }
  return true;
}
