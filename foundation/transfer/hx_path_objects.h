// Transfer objects for locations on this machine: HxUncObject for plain paths (backslashes
// count as separators) and HxFileObject for "file:" locations. Storing goes through a
// temporary file in the target's directory and a rename, so the target is never half written.
#pragma once
#include "foundation/transfer/hx_remote_object.h"

class HxUncObject : public HxRemoteObject {
 public:
  explicit HxUncObject(HxLocationParts location);

  using HxRemoteObject::GetFile;
  // True when nothing is left at the path (an absent file counts as deleted).
  bool Delete() override;
  bool GetSize(uint64_t& size) override;
  bool Exists() override;
  bool GetLastWriteTime(uint64_t& fileTime) override;
  bool UploadFilePost(const HxStr& localFile) override;
  bool UploadFilePut(const HxStr& localFile) override;
  // Copies the file to the local `target`; the method does not matter here.
  bool GetFile(const HxStr& target, const char* method) override;
  // 2 when the target has the same size and is not older than the file.
  int GetFileIfNewer(const HxStr& target) override;
  // The path itself: a local file is its own copy.
  HxStr GetLocalCopy() override;

  const HxStr& LocalPath() const { return m_localPath; }

 protected:
  HxUncObject(HxLocationParts location, HxStr localPath);

 private:
  HxStr m_localPath;
};

class HxFileObject : public HxUncObject {
 public:
  explicit HxFileObject(HxLocationParts location);

  // The local path of a "file:" location: without the protocol and a "//host" part,
  // %XX escapes decoded, backslashes turned into '/'.
  static HxStr LocalPathOf(std::string_view location);
};
