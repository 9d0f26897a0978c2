// The file behind a named object: where it lives, how it is opened, the byte-range locks on it
// and the state record read and written with pread/pwrite.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::internal {

enum class ObjectKind : uint32_t { Event = 1, Mutex = 2, Semaphore = 3 };

inline constexpr uint32_t kRecordMagic = 0x4F535354;  // "TSSO"

// Semaphore: how many handles at once may hold units of the count as their own.
inline constexpr size_t kShareSlots = 32;

// The state of one object as its file holds it.
struct ObjectRecord {
  uint32_t magic = kRecordMagic;
  uint32_t kind = 0;
  uint32_t manualReset = 0;
  int32_t count = 0;     // event: 1 while signalled; semaphore: the count
  int32_t maximum = 0;   // semaphore: the maximum count
  uint32_t ownerPid = 0;  // mutex: the owning process and thread, 0 while free
  uint32_t ownerTid = 0;
  uint32_t recursion = 0;
  uint32_t abandoned = 0;  // mutex: its owner ended without releasing it
  uint32_t reserved = 0;
  uint64_t generation = 0;  // event: how often it went from reset to set
  // semaphore: the units of the count that each share slot's holder holds as its own
  int32_t shares[kShareSlots] = {};
};

// The locked bytes: the state lock, one read lock per handle, mutex ownership, and one byte
// per share slot, write-locked by the handle that holds the slot.
inline constexpr off_t kStateByte = 0;
inline constexpr off_t kHandleByte = 1;
inline constexpr off_t kOwnerByte = 2;
inline constexpr off_t kFirstShareByte = 3;

// Takes (F_RDLCK, F_WRLCK) or drops (F_UNLCK) an open-file-description lock on one byte;
// waits for it when `wait`. False when it is held elsewhere (without `wait`) or on error.
bool LockByte(int fd, off_t byte, short type, bool wait);

// True when another open file description holds a lock that conflicts with a write lock.
bool ByteLockedElsewhere(int fd, off_t byte);

// True for a file that neither this account nor root owns: its owner may hold its locks for
// ever, so nobody else waits for them without a bound.
bool OwnedByStranger(uid_t owner);

// How the state lock of a stranger's file is taken: tried again for up to
// kForeignObjectLockMs of the platform clock, or tried once.
enum class ForeignLock { Bounded, TryOnce };

// Takes the state lock: waits for it, or on a stranger's file (`foreign`) tries as `how` says.
// False with LastError(), 33 when the lock stayed taken.
bool LockState(int fd, bool foreign, ForeignLock how = ForeignLock::Bounded);

bool ReadRecord(int fd, ObjectRecord& record);
bool WriteRecord(int fd, const ObjectRecord& record);

// Wakes the threads that wait on the file: an attribute change that their inotify reports.
void Ring(int fd);

// True for a name in the Global namespace ("Global\NAME").
bool IsGlobalName(std::string_view name);

// The path of the file for an object name ("Global\" and "Local\" choose the namespace);
// empty with LastError() when the namespace directory is unusable.
std::string ObjectFilePath(std::string_view name);

// True when an account that makes the Global namespace's objects (root) made the open file, a
// regular one that no other name links to.
bool MadeByGlobalObjectCreator(int fd);

// Removes the entry at `path` (a file, link or empty directory) when an account other than
// root's made it. True when it did.
bool RemoveStrangersEntry(const std::string& path);

// Every handle of root's Global object also holds a read lock on this byte of a second file,
// its handle probe, which every account may read: another account, which may not open an
// Owner-only object, learns from it whether any handle holds one without reaching its state.
inline constexpr off_t kProbeByte = 0;

// The probe file of the object file at `objectPath`.
std::string ProbeFilePath(const std::string& objectPath);

// Opens the object's probe (making it when missing, or anew when `renew` or when it is not
// root's) and read-locks its byte; -1 on failure.
int HoldHandleProbe(const std::string& objectPath, bool renew);

// Why an object file that this account could not open counts as no object (2), or as one it
// may not use (5): 5 only for root's file while a handle holds it.
uint32_t UnopenableObjectError(const std::string& objectPath);

// Opens (or with `create`, makes) the object file and returns it with its state lock held;
// -1 with LastError() (33: a stranger's file whose state lock stayed taken). `created` tells
// whether this call made the file.
int OpenObjectFile(const std::string& path, bool create, bool& created);

// An anonymous object file for an unnamed object, with its state lock held; -1 on failure.
int CreatePrivateObjectFile();

// A second, separate open of the same file (its own locks); -1 on failure.
int ReopenObjectFile(int fd);

// "/proc/self/fd/N": names the open file itself, whatever happens to its path.
std::string DescriptorPath(int fd);

// Removes the object file when the path still names the file open as `fd`.
void RemoveObjectFile(const std::string& path, int fd);

}  // namespace platform::internal
