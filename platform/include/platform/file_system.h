// Directories, the read-only attribute, plain copies, read-only mappings and files written under
// a temporary name. Failures return false and leave the Windows error number in LastError().
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// "Read-only" is the owner's write bit; clearing it restores the normal attributes.
bool IsReadOnly(const std::string& path, bool& readOnly);
bool SetReadOnly(const std::string& path, bool readOnly);

// True when `path` itself is a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);

// Creates one directory (its parent must exist): 183 when something exists at the path.
bool CreateDirectory(const std::string& path);
// Creates one directory that only the process's account may use (mode 0700, whatever the
// umask), with a single mkdir: 183 when anything exists at the path, so an existing directory
// or link is never taken over.
bool CreatePrivateDirectory(const std::string& path);
// Removes an empty directory: 145 when it still holds entries.
bool RemoveDirectory(const std::string& path);

// Bytes free to the process on the file system that holds `path` or, while it does not exist,
// its nearest existing parent.
bool FreeDiskBytes(const std::string& path, uint64_t& bytes);

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
};
// The entries of a directory without "." and "..", in the order the system gives them.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries);

// Copies a file (CopyFile). With `failIfExists` an existing target fails with 80; otherwise the
// target is replaced through a temporary file and a rename.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);

// A whole regular file mapped read-only. Opening fails for a missing file, a directory and an
// empty file (nothing to map).
class ReadOnlyMapping {
 public:
  ReadOnlyMapping() = default;
  ~ReadOnlyMapping();
  ReadOnlyMapping(const ReadOnlyMapping&) = delete;
  ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;

  bool Open(const std::string& path);
  void Close();
  const unsigned char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

// A file that replaces `target` only once it is whole: the bytes go to a temporary file in the
// target's directory, which Commit renames over the target. Destroying an uncommitted writer
// removes the temporary file, so a failure never leaves a partial file under the target's name.
// The writer holds a lock on its temporary file, whose name follows from the target's: opening
// a writer removes the temporary file of a killed writer of the same target (nobody holds its
// lock any more), never one that a running writer holds.
class ReplacingFileWriter {
 public:
  ReplacingFileWriter() = default;
  ~ReplacingFileWriter();
  ReplacingFileWriter(const ReplacingFileWriter&) = delete;
  ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

  bool Open(const std::string& target);
  bool Write(const void* data, size_t size);
  bool Commit();
  // Drops the temporary file (also done by the destructor).
  void Abandon();

 private:
  int fd_ = -1;
  std::string temp_;
  std::string target_;
};

}  // namespace platform
