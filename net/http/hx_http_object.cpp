#include "net/http/hx_http_object.h"

#include <cstdarg>

#include "foundation/log/error_store.h"
#include "foundation/strings/url_escape.h"
#include "net/http/curl_binding.h"
#include "platform/files.h"

namespace {

constexpr uint32_t kHttpObjectError = 0x2000008b;
constexpr size_t kLongestQueryForGet = 1023;
constexpr uint64_t kLargestRepeatedPut = 51200;
// After this many stalled attempts an operation makes no more.
constexpr int kStalledAttemptsPerOperation = 2;

void RecordHttpError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void RecordHttpError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  HxStr text;
  text.FormatV(format, args);
  va_end(args);
  RaiseSharedError(kHttpObjectError, text.c_str());
}

bool SameNoCase(const char* text, std::string_view other) {
  return text != nullptr && HxStr(text).CompareNoCase(other) == 0;
}

std::string LocalPath(const HxStr& path) { return std::string(ToLocalPath(path)); }

// The ';'-separated proxy list of the system's configuration, without blanks.
std::vector<std::string> SplitProxyList(std::string_view list) {
  std::vector<std::string> proxies;
  while (!list.empty()) {
    const size_t end = std::min(list.find(';'), list.size());
    std::string_view item = list.substr(0, end);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) proxies.emplace_back(item);
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return proxies;
}

void SetTargetTime(const std::string& target, const HttpResponse& response) {
  if (response.lastModified >= 0) {
    platform::SetLastWriteTime(target, FileTimeFromUnixSeconds(response.lastModified));
  }
}

}  // namespace

HxHttpObject::HxHttpObject(HxLocationParts location)
    : HxRemoteObject(std::move(location)),
      m_server(m_location.server),
      m_objectPath(ToLocalPath(m_location.path)) {
  if (m_objectPath.IsEmpty()) m_objectPath = "/";
}

HxHttpObject::~HxHttpObject() { Disconnect(); }

HxHttpObject::Operation::Operation(HxHttpObject& object) : m_object(object) {
  if (m_object.m_operationDepth++ == 0) {
    m_object.m_stalledAttempts = 0;
    m_object.m_failureCause.clear();
  }
}

HxHttpObject::Operation::~Operation() { --m_object.m_operationDepth; }

void HxHttpObject::NoteFailure(std::string cause) {
  if (m_failureCause.empty()) m_failureCause = std::move(cause);
}

void HxHttpObject::NoteFailure(const HttpResponse& response) {
  if (!response.failure.empty()) {
    NoteFailure(response.failure);
  } else if (response.status != 0) {
    NoteFailure("the server answered with status " + std::to_string(response.status));
  } else {
    NoteFailure("no response from the server");
  }
}

std::string HttpFailureCause(const HxRemoteObject& object) {
  const auto* http = dynamic_cast<const HxHttpObject*>(&object);
  return http != nullptr ? http->LastFailureCause() : std::string();
}

uint32_t HxHttpObject::RequestFlags() const {
  return kFlagReload | kFlagNoCacheWrite | kFlagKeepConnection;
}

uint32_t HxHttpsObject::RequestFlags() const { return HxHttpObject::RequestFlags() | kFlagSecure; }

// ---- session and sending ---------------------------------------------------------------------

bool HxHttpObject::Connect() {
  if (!http_binding::HttpLibraryAvailable()) {
    NoteFailure("the HTTP library is not available or refused by \"InvalidWinInetVer\"");
    return false;
  }
  if (m_session) return true;
  auto session = std::make_unique<HttpSession>();
  if (!session->Valid()) {
    NoteFailure("the HTTP library could not start a session");
    return false;
  }
  m_proxy = ReadSessionProxy((RequestFlags() & kFlagSecure) != 0);
  m_session = std::move(session);
  return true;
}

void HxHttpObject::Disconnect() {
  m_session.reset();
  m_proxyIndex = 0;
}

HttpRequestSpec HxHttpObject::MakeRequest(const char* method, std::string_view objectPath) const {
  const uint32_t flags = RequestFlags();
  HttpRequestSpec request;
  request.method = method;
  request.url = (flags & kFlagSecure) != 0 ? "https://" : "http://";
  request.url += std::string_view(m_server);
  request.url += EscapeUrlText(objectPath);
  if ((flags & kFlagReload) != 0) {
    request.headers = {"Pragma: no-cache", "Cache-Control: no-cache"};
  }
  if ((flags & kFlagKeepConnection) != 0) request.headers.emplace_back("Connection: Keep-Alive");
  return request;
}

HttpSessionOptions HxHttpObject::CredentialOptions() const {
  HttpSessionOptions options;
  options.sendServerCredentials = m_sendServerCredentials;
  options.user = std::string(std::string_view(m_user));
  options.password = std::string(std::string_view(m_password));
  options.serverAuth = m_serverAuth;
  options.sendProxyCredentials = m_sendProxyCredentials;
  // The object's own proxy credentials win over the store's.
  const bool own = !m_proxyUser.IsEmpty();
  options.proxyUser = own ? std::string(std::string_view(m_proxyUser)) : m_proxy.user;
  options.proxyPassword = own ? std::string(std::string_view(m_proxyPassword)) : m_proxy.password;
  options.proxyAuth = m_proxyAuth;
  return options;
}

bool HxHttpObject::UseSystemProxyFallback() {
  m_fallbackTried = true;
  std::string servers, bypass;
  if (!SystemProxyFallback(servers, bypass)) return false;
  RecordHttpError(
      "Failed to connect due to possibly incorrect IE settings. Setting ProxyServer =  '%s' with "
      "ProxyBypassList = '%s' for WinInet flow",
      servers.c_str(), bypass.c_str());
  m_alternativeProxies = SplitProxyList(servers);
  m_alternativeBypass = bypass;
  m_proxyIndex = 0;
  return !m_alternativeProxies.empty();
}

HttpResponse HxHttpObject::Send(const HttpRequestSpec& request) {
  return Send(request, CredentialOptions());
}

HttpResponse HxHttpObject::Send(const HttpRequestSpec& request, HttpSessionOptions options) {
  options.cancelled = [this] { return IsCancelled(); };
  for (;;) {
    if (m_stalledAttempts >= kStalledAttemptsPerOperation) return m_lastStalled;
    const bool alternatives = !m_alternativeProxies.empty();
    options.proxy = alternatives ? m_alternativeProxies[m_proxyIndex]
                    : m_proxy.access == SessionProxy::Access::Direct ? std::string()
                                                                     : m_proxy.proxyUrl;
    options.noProxy = alternatives ? m_alternativeBypass : m_proxy.bypassList;
    HttpResponse response = m_session->Perform(options, request);
    if (response.stalled) {
      ++m_stalledAttempts;
      m_lastStalled = response;
    }
    m_status = response.status;
    m_responseText = response.status == 200 ? HxStr() : HxStr(response.responseText);
    const bool unreachable = response.outcome == HttpOutcome::ConnectFailed;
    if (unreachable && !alternatives && !m_fallbackTried && UseSystemProxyFallback()) continue;
    const bool sendFailed = unreachable || response.outcome == HttpOutcome::SendFailed;
    if (sendFailed && alternatives && m_proxyIndex + 1 < m_alternativeProxies.size()) {
      ++m_proxyIndex;
      continue;
    }
    return response;
  }
}

bool HxHttpObject::AnswerChallenge(const HttpResponse& response, Challenges& answered) {
  if (response.status == 401 && !answered.server) {
    answered.server = m_sendServerCredentials = true;
    m_serverAuth = response.authOffered;
    return true;
  }
  if (response.status == 407 && !answered.proxy) {
    answered.proxy = m_sendProxyCredentials = true;
    m_proxyAuth = response.proxyAuthOffered;
    return true;
  }
  return false;
}

HttpResponse HxHttpObject::SendWithRetries(const HttpRequestSpec& request) {
  Challenges answered;
  HttpResponse response;
  for (int attempt = 0; attempt < 2; ++attempt) {
    response = Send(request);
    if (response.outcome == HttpOutcome::ConnectFailed || response.status == 200) break;
    if (!AnswerChallenge(response, answered) && response.status != 0) break;
  }
  return response;
}

HttpResponse HxHttpObject::Head() { return SendWithRetries(MakeRequest("HEAD", m_objectPath)); }

// ---- operations ------------------------------------------------------------------------------

bool HxHttpObject::Delete() {
  const Operation operation(*this);
  if (!Connect()) return false;
  HttpRequestSpec request = MakeRequest("DELETE", m_objectPath);
  request.followRedirects = false;
  const HttpResponse response = Send(request);
  if (response.status == 200) return true;
  NoteFailure(response);
  return false;
}

bool HxHttpObject::Exists() {
  const Operation operation(*this);
  if (!Connect()) return false;
  const HttpResponse response = Head();
  if (response.status == 200) return true;
  NoteFailure(response);
  return false;
}

bool HxHttpObject::UploadFilePost(const HxStr& localFile) { return UploadFile(localFile, "POST"); }
bool HxHttpObject::UploadFilePut(const HxStr& localFile) { return UploadFile(localFile, "PUT"); }

bool HxHttpObject::GetFile(const HxStr& target, const char* method) {
  const Operation operation(*this);
  const std::string_view path(m_objectPath);
  const size_t question = path.find('?');
  if (question != std::string_view::npos) {
    const std::string_view query = path.substr(question + 1);
    if (SameNoCase(method, "POST") || query.size() > kLongestQueryForGet) {
      return PostFile(HxStr(path.substr(0, question)), target, query.data(), query.size());
    }
  }
  if (!Connect()) {
    RecordHttpError("GetFile '%s' -> '%s' from server '%s', Failed to connect to server",
                    m_objectPath.c_str(), target.c_str(), m_server.c_str());
    return false;
  }
  HttpRequestSpec request = MakeRequest("GET", path);
  request.target = LocalPath(target);
  const HttpResponse response = SendWithRetries(request);
  if (response.outcome == HttpOutcome::ConnectFailed) {
    NoteFailure(response);
    RecordHttpError("GetFile '%s' -> '%s' from server '%s', Failed to connect to server",
                    m_objectPath.c_str(), target.c_str(), m_server.c_str());
    return false;
  }
  if (response.bodyStored) {
    if (m_setTargetTime) SetTargetTime(request.target, response);
    return true;
  }
  NoteFailure(response);
  RecordHttpError("GetFile '%s' -> '%s' from server '%s', Failed with error code %d",
                  m_objectPath.c_str(), target.c_str(), m_server.c_str(), m_status);
  return false;
}

bool HxHttpObject::PostFile(const HxStr& objectPath, const HxStr& target, const char* form,
                            size_t length) {
  const Operation operation(*this);
  HttpResponse response;
  HttpRequestSpec request = MakeRequest("POST", objectPath);
  request.headers.emplace_back("Content-Type: application/x-www-form-urlencoded");
  request.formBody = std::string_view(form, length);
  request.target = LocalPath(target);
  const bool connected = Connect();
  if (connected) response = Send(request);
  if (!connected || response.outcome == HttpOutcome::ConnectFailed) {
    if (connected) NoteFailure(response);
    RecordHttpError("PostFile '%s' -> '%s' to server '%s', Failed to connect to server",
                    objectPath.c_str(), target.c_str(), m_server.c_str());
    return false;
  }
  if (response.bodyStored) {
    if (m_setTargetTime) SetTargetTime(request.target, response);
    return true;
  }
  NoteFailure(response);
  RecordHttpError("PostFile '%s' -> '%s' to server '%s' failed", objectPath.c_str(), target.c_str(),
                  m_server.c_str());
  return false;
}

int HxHttpObject::GetFileIfNewer(const HxStr& target) {
  const Operation operation(*this);
  if (!Connect()) {
    RecordHttpError("GetFileIfNewer '%s' -> '%s' from server '%s', Failed to connect to server",
                    m_objectPath.c_str(), target.c_str(), m_server.c_str());
    return 0;
  }
  const std::string local = LocalPath(target);
  uint64_t targetTime = 0, targetSize = 0;
  if (platform::GetLastWriteTime(local, targetTime) && platform::GetFileSize(local, targetSize)) {
    const HttpResponse head = Head();
    if (head.status == 200 && head.lastModified >= 0 && head.contentLength >= 0 &&
        FileTimeFromUnixSeconds(head.lastModified) <= targetTime &&
        static_cast<uint64_t>(head.contentLength) == targetSize) {
      return 2;
    }
  }
  m_setTargetTime = true;
  const bool fetched = GetFile(target);
  m_setTargetTime = false;
  if (fetched) return 1;
  RecordHttpError("GetFileIfNewer '%s' -> '%s' from server '%s', failed.", m_objectPath.c_str(),
                  target.c_str(), m_server.c_str());
  return 0;
}

bool HxHttpObject::UploadFile(const HxStr& localFile, const char* method) {
  const Operation operation(*this);
  const bool put = SameNoCase(method, "PUT");
  if (!put && !SameNoCase(method, "POST")) {
    NoteFailure("only PUT and POST can upload");
    RecordHttpError("UploadFile '%s' -> '%s' to server '%s', Invalid method '%s'",
                    localFile.c_str(), m_objectPath.c_str(), m_server.c_str(),
                    method != nullptr ? method : "");
    return false;
  }
  HttpRequestSpec request = MakeRequest(put ? "PUT" : "POST", m_objectPath);
  request.uploadFile = LocalPath(localFile);
  request.followRedirects = false;
  uint64_t size = 0;
  platform::GetFileSize(request.uploadFile, size);
  Challenges answered;
  bool repeated = false;
  HttpResponse response;
  while (Connect()) {
    response = Send(request);
    if (response.outcome == HttpOutcome::ConnectFailed) {
      NoteFailure(response);
      break;
    }
    if (response.status == 200 || response.status == 201 || response.status == 204) return true;
    if (AnswerChallenge(response, answered)) continue;
    // A PUT that broke off or met 404/409 is tried once more, unless the file is large.
    const bool broke = response.outcome == HttpOutcome::SendFailed;
    if (put && !repeated && size <= kLargestRepeatedPut &&
        (broke || response.status == 404 || response.status == 409)) {
      repeated = true;
      continue;
    }
    NoteFailure(response);
    RecordHttpError("UploadFile '%s' -> '%s' to server '%s', Failed with error code %d",
                    localFile.c_str(), m_objectPath.c_str(), m_server.c_str(), m_status);
    return false;
  }
  RecordHttpError("UploadFile '%s' -> '%s' to server '%s', Unable to connect to server",
                  localFile.c_str(), m_objectPath.c_str(), m_server.c_str());
  return false;
}

int HxHttpObject::TestAuthentication(const HxStr& target, const HxStr& user, const HxStr& password,
                                     const HxStr& proxyUser, const HxStr& proxyPassword) {
  const Operation operation(*this);
  std::string local = LocalPath(target);
  const bool temporary = local.empty();
  if (temporary && !platform::CreateTempFile(platform::TempDirectory(), "res", local)) {
    RaiseLastError();
    return 0;
  }
  int result = 0;
  HttpResponse response;
  const bool connected = Connect();
  if (connected) {
    HttpSessionOptions credentials;
    credentials.sendServerCredentials = !user.IsEmpty();
    credentials.user = std::string(std::string_view(user));
    credentials.password = std::string(std::string_view(password));
    credentials.sendProxyCredentials = !proxyUser.IsEmpty();
    credentials.proxyUser = std::string(std::string_view(proxyUser));
    credentials.proxyPassword = std::string(std::string_view(proxyPassword));
    HttpRequestSpec request = MakeRequest("GET", m_objectPath);
    request.target = local;
    response = Send(request, credentials);
  }
  const HxStr shownTarget = temporary ? HxStr(local) : target;
  if (!connected || response.outcome == HttpOutcome::ConnectFailed) {
    if (connected) NoteFailure(response);
    RecordHttpError(
        "HxHttpObject::TestAuthentication '%s' -> '%s' from server '%s', Failed to connect to "
        "server",
        m_objectPath.c_str(), shownTarget.c_str(), m_server.c_str());
  } else {
    result = response.outcome == HttpOutcome::Response
                 ? m_status
                 : static_cast<int>(InternetErrorOf(response.transferCode));
    if (!response.bodyStored) {
      NoteFailure(response);
      RecordHttpError("TestAuthentication '%s' -> '%s' from server '%s', Failed with error code %d",
                      m_objectPath.c_str(), shownTarget.c_str(), m_server.c_str(), m_status);
    }
  }
  if (temporary) platform::DeleteFile(local);
  return result;
}
