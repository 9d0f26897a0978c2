#include "foundation/transfer/hx_remote_object.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "foundation/log/error_store.h"
#include "foundation/log/hx_trace.h"
#include "foundation/transfer/hx_path_objects.h"
#include "foundation/transfer/transfer_temp.h"
#include "platform/files.h"

namespace {

constexpr uint32_t kErrorUnknownProtocol = 0x2000006b;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSchemeChar(char c) {
  return IsAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of the protocol prefix with its colon ("http:" gives 5); 0 for none. One letter
// before a colon is a drive, not a protocol.
size_t ProtocolLength(std::string_view location) {
  if (location.empty() || !IsAsciiAlpha(location[0])) return 0;
  size_t i = 1;
  while (i < location.size() && IsSchemeChar(location[i])) ++i;
  return (i >= 2 && i < location.size() && location[i] == ':') ? i + 1 : 0;
}

size_t FindLastSeparator(std::string_view text) { return text.find_last_of("/\\"); }

struct Registry {
  std::mutex lock;
  std::map<HxStr, HxRemoteObjectMaker, std::less<>> makers;  // keys in lower case
  std::map<int, HxTransferConversion> conversions;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

HxStr LowerCase(std::string_view text) {
  HxStr lower(text);
  lower.MakeLower();
  return lower;
}

}  // namespace

HxLocationParts SplitLocation(std::string_view location) {
  HxLocationParts parts;
  parts.location = location;
  std::string_view rest = location;
  const size_t protocolLength = ProtocolLength(rest);
  parts.protocol = rest.substr(0, protocolLength);
  rest.remove_prefix(protocolLength);
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    rest.remove_prefix(2);
    const size_t end = std::min(rest.find_first_of("/\\"), rest.size());
    parts.server = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  parts.path = rest;
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    parts.query = rest.substr(question + 1);
    rest = rest.substr(0, question);
  }
  const size_t separator = FindLastSeparator(rest);
  const size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
  parts.directory = rest.substr(0, nameStart);
  const std::string_view name = rest.substr(nameStart);
  const size_t dot = name.rfind('.');
  parts.file = name.substr(0, dot);
  if (dot != std::string_view::npos) parts.extension = name.substr(dot);
  return parts;
}

HxStr ToLocalPath(std::string_view path) {
  HxStr local(path);
  local.Replace('\\', '/');
  return local;
}

// ---- registration and the factory -----------------------------------------------------------

void RegisterTransferProtocol(std::string_view prefix, HxRemoteObjectMaker maker) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.lock);
  registry.makers[LowerCase(prefix)] = maker;
}

void RegisterTransferConversion(int mode, HxTransferConversion conversion) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.lock);
  registry.conversions[mode] = conversion;
}

HxRemoteObjectPtr CreateRemoteObject(std::string_view location) {
  HxLocationParts parts = SplitLocation(location);
  HxTrace::Instance().TraceL1(kTraceFiles, "prot = %s, src = %s, dir = %s, file = %s, ext = %s\n",
                              parts.protocol.c_str(), parts.server.c_str(), parts.directory.c_str(),
                              parts.file.c_str(), parts.extension.c_str());
  if (parts.protocol.IsEmpty()) return std::make_shared<HxUncObject>(std::move(parts));
  if (parts.protocol.CompareNoCase("file:") == 0) {
    return std::make_shared<HxFileObject>(std::move(parts));
  }
  HxRemoteObjectMaker maker = nullptr;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    const auto found = registry.makers.find(std::string_view(LowerCase(parts.protocol)));
    if (found != registry.makers.end()) maker = found->second;
  }
  if (maker == nullptr) {
    RaiseError(kErrorUnknownProtocol, parts.protocol.c_str());
    return nullptr;
  }
  return maker(parts);
}

// ---- the base object ------------------------------------------------------------------------

HxRemoteObject::HxRemoteObject(HxLocationParts location) : m_location(std::move(location)) {}

HxRemoteObject::~HxRemoteObject() {
  if (!m_temporaryCopy.IsEmpty()) platform::DeleteFile(std::string(m_temporaryCopy));
}

void HxRemoteObject::SetCredentials(const HxStr& user, const HxStr& password) {
  m_user = user;
  m_password = password;
}

void HxRemoteObject::SetProxyCredentials(const HxStr& user, const HxStr& password) {
  m_proxyUser = user;
  m_proxyPassword = password;
}

bool HxRemoteObject::Delete() { return false; }
bool HxRemoteObject::GetSize(uint64_t&) { return false; }
bool HxRemoteObject::Exists() { return false; }
bool HxRemoteObject::GetLastWriteTime(uint64_t&) { return false; }
bool HxRemoteObject::UploadFilePost(const HxStr&) { return false; }
bool HxRemoteObject::UploadFilePut(const HxStr&) { return false; }
bool HxRemoteObject::GetFile(const HxStr& target) { return GetFile(target, "GET"); }
bool HxRemoteObject::GetFile(const HxStr&, const char*) { return false; }
int HxRemoteObject::GetFileIfNewer(const HxStr& target) { return GetFile(target) ? 1 : 0; }

HxStr HxRemoteObject::GetLocalCopy() {
  if (!m_temporaryCopy.IsEmpty()) return m_temporaryCopy;
  ScopedTempFile download;
  if (!download.Create("_hx") || !GetFile(download.Path())) return HxStr();
  m_temporaryCopy = download.Release();
  return m_temporaryCopy;
}

bool HxRemoteObject::CopyTo(const HxStr& otherLocation, int mode) {
  const HxRemoteObjectPtr destination = CreateRemoteObject(otherLocation);
  ScopedTempFile download;
  if (!destination || !download.Create("_hx") || !GetFile(download.Path())) return false;
  HxTransferConversion conversion = nullptr;
  if (mode == 1 || mode == 2) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    const auto found = registry.conversions.find(mode);
    if (found != registry.conversions.end()) conversion = found->second;
  }
  if (conversion == nullptr) return destination->UploadFilePut(download.Path());
  ScopedTempFile converted;
  return converted.Create("_hx") && conversion(download.Path(), converted.Path()) &&
         destination->UploadFilePut(converted.Path());
}

void HxRemoteObject::Cancel() { m_cancelled.store(true); }
int HxRemoteObject::GetStatus() const { return 0; }

void HxRemoteObject::GetResponseText(char* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) return;
  const size_t length = std::min(size - 1, static_cast<size_t>(m_responseText.GetLength()));
  std::memcpy(buffer, m_responseText.c_str(), length);
  buffer[length] = '\0';
}

int HxRemoteObject::TestAuthentication(const HxStr&, const HxStr&, const HxStr&, const HxStr&,
                                       const HxStr&) {
  return 0;
}

bool HxRemoteObject::Connect() { return true; }
void HxRemoteObject::Disconnect() {}
