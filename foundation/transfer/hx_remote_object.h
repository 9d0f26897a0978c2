// Transfer objects: every location the system reads or writes is reached through one, chosen by
// the location's form. A plain path gives an HxUncObject, "file:" an HxFileObject, any other
// protocol the class registered for its prefix (the HTTP module registers "http:" and
// "https:"). Objects are shared through HxRemoteObjectPtr.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "foundation/strings/hx_str.h"

// A location cut into its parts.
struct HxLocationParts {
  HxStr location;   // as given
  HxStr protocol;   // "http:", "file:", ...; empty for a plain path
  HxStr server;     // host after "//"; for a plain path the server of a "\\server\..." path
  HxStr path;       // everything after the server, query text included (the object path)
  HxStr directory;  // the path's directory part, ending with its separator
  HxStr file;       // file name without its extension
  HxStr extension;  // the extension with its dot
  HxStr query;      // text after '?', without it
};

// Splits a location. Protocols are at least two characters long, so "C:" stays a path.
HxLocationParts SplitLocation(std::string_view location);

// A location as a local path: backslashes become '/'.
HxStr ToLocalPath(std::string_view path);

class HxRemoteObject {
 public:
  explicit HxRemoteObject(HxLocationParts location);
  HxRemoteObject(const HxRemoteObject&) = delete;
  HxRemoteObject& operator=(const HxRemoteObject&) = delete;
  // Deletes the temporary local copy, if one was made.
  virtual ~HxRemoteObject();

  virtual void SetCredentials(const HxStr& user, const HxStr& password);
  virtual void SetProxyCredentials(const HxStr& user, const HxStr& password);
  virtual bool Delete();
  virtual bool GetSize(uint64_t& size);
  virtual bool Exists();
  virtual bool GetLastWriteTime(uint64_t& fileTime);
  virtual bool UploadFilePost(const HxStr& localFile);
  // Stores a local file at the location.
  virtual bool UploadFilePut(const HxStr& localFile);
  // Fetches the location into the local file `target`. Kinds override the method form and
  // bring the other into scope with `using HxRemoteObject::GetFile;`.
  virtual bool GetFile(const HxStr& target);
  virtual bool GetFile(const HxStr& target, const char* method);
  // 0 failure, 1 downloaded, 2 the target is already current.
  virtual int GetFileIfNewer(const HxStr& target);
  // A local file with the location's content: on first use fetched into a temporary "_hx" file
  // that lives as long as the object; later calls give the same path. Empty on failure.
  virtual HxStr GetLocalCopy();
  // Fetches into a temporary file, passes it through the conversion registered for `mode`
  // (1 or 2) when there is one, and stores it at `otherLocation`.
  virtual bool CopyTo(const HxStr& otherLocation, int mode);
  virtual void Cancel();
  virtual int GetStatus() const;
  // Copies the last response text, cut to the buffer (always terminated when size > 0).
  virtual void GetResponseText(char* buffer, size_t size) const;
  virtual int TestAuthentication(const HxStr& target, const HxStr& user, const HxStr& password,
                                 const HxStr& proxyUser, const HxStr& proxyPassword);
  virtual bool Connect();
  virtual void Disconnect();

  const HxLocationParts& Location() const { return m_location; }
  bool IsCancelled() const { return m_cancelled.load(); }

 protected:
  HxLocationParts m_location;
  HxStr m_user;
  HxStr m_password;
  HxStr m_proxyUser;
  HxStr m_proxyPassword;
  HxStr m_responseText;

 private:
  std::atomic<bool> m_cancelled{false};
  HxStr m_temporaryCopy;
};

using HxRemoteObjectPtr = std::shared_ptr<HxRemoteObject>;

// Makes the object for a protocol prefix ("http:") from the split location.
using HxRemoteObjectMaker = HxRemoteObjectPtr (*)(const HxLocationParts& location);
// Registers (or replaces) the maker for a protocol prefix, compared without case.
void RegisterTransferProtocol(std::string_view prefix, HxRemoteObjectMaker maker);

// A conversion that CopyTo applies for mode 1 or 2: reads `input`, writes `output`.
using HxTransferConversion = bool (*)(const HxStr& input, const HxStr& output);
void RegisterTransferConversion(int mode, HxTransferConversion conversion);

// Splits the location (traced) and makes its object; null after raising 0x2000006b
// "Unknown protocol:  %s" for an unregistered protocol.
HxRemoteObjectPtr CreateRemoteObject(std::string_view location);
