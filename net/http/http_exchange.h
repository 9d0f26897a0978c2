// One HTTP request over a session's easy handle: the request's options, an optional body from
// memory or from a file (read in 1024-byte blocks), and a 200 response body streamed into a
// file beside the target that replaces the target only when the whole body arrived. Other
// responses keep the start of their body as the response text. An attempt that moves less than
// kStallBytes within kStallLimitMs of the platform clock ends, whether it is connecting,
// waiting for the response or receiving the body.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How a session reaches servers: its proxy and the credentials to send when asked.
struct HttpSessionOptions {
  std::string proxy;    // curl form; empty: direct
  std::string noProxy;  // bypass list; empty: none
  bool sendServerCredentials = false;
  std::string user, password;
  long serverAuth = 0;  // the methods the server offered; 0: basic
  bool sendProxyCredentials = false;
  std::string proxyUser, proxyPassword;
  long proxyAuth = 0;               // the methods the proxy offered; 0: basic
  std::function<bool()> cancelled;  // true: the running transfer stops
};

inline constexpr uint64_t kStallLimitMs = 60000;
inline constexpr uint64_t kStallBytes = 1024;
// The longest chain of redirects followed.
inline constexpr long kMostRedirects = 10;

struct HttpRequestSpec {
  std::string method = "GET";  // GET, HEAD, POST, PUT, DELETE
  std::string url;             // escaped
  // Redirects are followed, "https:" to "https:" only.
  bool followRedirects = true;
  std::vector<std::string> headers;  // extra request headers
  std::string_view formBody;         // POST body held by the caller
  std::string uploadFile;            // body read from this file (PUT or POST)
  std::string target;                // a 200 body goes here; empty: the body is dropped
};

enum class HttpOutcome {
  Response,       // a response arrived (its body may still have broken off)
  ConnectFailed,  // the server or proxy could not be reached or resolved
  SendFailed,     // the connection broke before a response arrived
  Failed,         // anything else: cancelled, local file trouble, TLS refusal
};

struct HttpResponse {
  HttpOutcome outcome = HttpOutcome::Failed;
  int transferCode = 0;        // the library's result code
  int status = 0;              // 0 when no response was read
  int64_t contentLength = -1;  // "Content-Length"; -1 when absent
  int64_t lastModified = -1;   // "Last-Modified" in seconds since 1970; -1 when absent
  uint64_t received = 0;       // body bytes received
  bool bodyStored = false;     // the target was replaced by the complete body
  bool localFailure = false;   // a local read or write failed (system error recorded)
  long authOffered = 0;        // the methods a 401 offered
  long proxyAuthOffered = 0;   // the methods a 407 offered
  bool stalled = false;        // ended for moving too little
  std::string responseText;    // the start of a non-200 body
  // Why the exchange broke off or its body was not stored, in plain words; empty when a
  // response arrived whole (whatever its status).
  std::string failure;
};

// Watches one attempt for progress: stalled once fewer than kStallBytes moved during the last
// `limitMs` (measured from marks a few per limit apart, so at most an eighth of the limit late).
class StallWatch {
 public:
  StallWatch(uint64_t limitMs, uint64_t startMs);
  // `bytes`: what moved so far, both directions together.
  bool Stalled(uint64_t nowMs, uint64_t bytes);

 private:
  struct Mark {
    uint64_t ms, bytes;
  };
  uint64_t m_limitMs;
  std::deque<Mark> m_marks;
};

// Owns one easy handle attached to the process's shared connection pool.
class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  bool Valid() const { return m_easy != nullptr; }
  HttpResponse Perform(const HttpSessionOptions& options, const HttpRequestSpec& request);

 private:
  void* m_easy = nullptr;
};

// The system error number (in the Windows internet numbering) for a library result code.
uint32_t InternetErrorOf(int transferCode);

// Seconds since 1970 as a file time (100 ns since 1601).
uint64_t FileTimeFromUnixSeconds(int64_t seconds);
