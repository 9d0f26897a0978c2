// The transfer objects for "http:" and "https:" locations. Every failure is recorded in the
// shared error list as 0x2000008b "HttpObject error: %s"; the last HTTP status stays readable
// through GetStatus, and the cause of the last failure through LastFailureCause. Paths are sent
// escaped; redirects of GET, HEAD and form posts are followed (never from "https:" to "http:").
// An operation gives up once two of its attempts stalled. An object is used by one thread at a
// time; Cancel may come from another.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/transfer/hx_remote_object.h"
#include "net/http/http_exchange.h"
#include "net/http/proxy_settings.h"

class HxHttpObject : public HxRemoteObject {
 public:
  // Request flags: reload, no cache write, keep the connection; secure for HTTPS.
  static constexpr uint32_t kFlagReload = 0x80000000;
  static constexpr uint32_t kFlagNoCacheWrite = 0x04000000;
  static constexpr uint32_t kFlagKeepConnection = 0x00400000;
  static constexpr uint32_t kFlagSecure = 0x00800000;

  explicit HxHttpObject(HxLocationParts location);
  ~HxHttpObject() override;

  using HxRemoteObject::GetFile;
  bool Delete() override;
  bool Exists() override;
  bool UploadFilePost(const HxStr& localFile) override;
  bool UploadFilePut(const HxStr& localFile) override;
  bool GetFile(const HxStr& target, const char* method) override;
  int GetFileIfNewer(const HxStr& target) override;
  int GetStatus() const override { return m_status; }
  int TestAuthentication(const HxStr& target, const HxStr& user, const HxStr& password,
                         const HxStr& proxyUser, const HxStr& proxyPassword) override;
  bool Connect() override;
  void Disconnect() override;
  virtual uint32_t RequestFlags() const;

  // Sends a local file with "PUT" or "POST".
  bool UploadFile(const HxStr& localFile, const char* method);
  // Posts `form` (its first `length` bytes) as a form to `objectPath`; a 200 body goes to
  // `target` (with the response's last-modified time inside GetFileIfNewer).
  bool PostFile(const HxStr& objectPath, const HxStr& target, const char* form, size_t length);

  const HxStr& Server() const { return m_server; }
  const HxStr& ObjectPath() const { return m_objectPath; }
  // Why the last operation failed, in plain words ("the body ended after 20000 of 50000
  // bytes", "the server answered with status 404"); empty when it succeeded.
  const std::string& LastFailureCause() const { return m_failureCause; }

 private:
  // Marks one public operation (operations nest: GetFileIfNewer runs GetFile). The outermost
  // starts a new stall count and failure cause.
  class Operation {
   public:
    explicit Operation(HxHttpObject& object);
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

   private:
    HxHttpObject& m_object;
  };
  // Keeps the first cause an operation found; `response` gives it, else its status does.
  void NoteFailure(const HttpResponse& response);
  void NoteFailure(std::string cause);

  // Runs one request through the current proxy: after a failed connection the system's proxy
  // configuration is tried once; a send failure moves along its list of alternatives.
  // `credentials` carries the credentials to send; the proxy fields are filled in here.
  HttpResponse Send(const HttpRequestSpec& request, HttpSessionOptions credentials);
  HttpResponse Send(const HttpRequestSpec& request);
  // Up to two attempts: a first 401 or 407 is answered with credentials, no response repeats.
  HttpResponse SendWithRetries(const HttpRequestSpec& request);
  // The object's credentials, for the challenges answered so far.
  HttpSessionOptions CredentialOptions() const;
  // Arranges credentials for a 401 or 407 not yet answered in this operation.
  struct Challenges {
    bool server = false;
    bool proxy = false;
  };
  bool AnswerChallenge(const HttpResponse& response, Challenges& answered);
  bool UseSystemProxyFallback();
  HttpRequestSpec MakeRequest(const char* method, std::string_view objectPath) const;
  HttpResponse Head();

  HxStr m_server;
  HxStr m_objectPath;
  int m_status = 0;
  std::unique_ptr<HttpSession> m_session;
  SessionProxy m_proxy;
  bool m_sendServerCredentials = false;
  bool m_sendProxyCredentials = false;
  long m_serverAuth = 0;
  long m_proxyAuth = 0;
  bool m_fallbackTried = false;
  bool m_setTargetTime = false;  // inside GetFileIfNewer
  int m_operationDepth = 0;
  int m_stalledAttempts = 0;
  HttpResponse m_lastStalled;  // answers for the attempts an operation no longer makes
  std::string m_failureCause;
  std::vector<std::string> m_alternativeProxies;
  std::string m_alternativeBypass;
  size_t m_proxyIndex = 0;
};

class HxHttpsObject : public HxHttpObject {
 public:
  using HxHttpObject::HxHttpObject;
  uint32_t RequestFlags() const override;
};

// The LastFailureCause of an HTTP or HTTPS object; empty for other kinds.
std::string HttpFailureCause(const HxRemoteObject& object);
