#include "net/http/http_exchange.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "foundation/log/error_store.h"
#include "net/http/curl_binding.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace {

constexpr size_t kDownloadBlock = 512 * 1024;  // the most the library hands over at a time
// Smaller blocks gather into writes of this size; larger ones are written as they come.
constexpr size_t kWriteBuffer = 64 * 1024;
constexpr uint64_t kStallMarksPerLimit = 8;
constexpr size_t kUploadBlock = 1024;
constexpr size_t kResponseTextLimit = 4096;
constexpr const char* kAgentName = "Ostrel";

// Windows internet error numbers that callers and logs see for library failures.
constexpr uint32_t kInternetTimeout = 12002;
constexpr uint32_t kInternetInternalError = 12004;
constexpr uint32_t kInternetNameNotResolved = 12007;
constexpr uint32_t kInternetOperationCancelled = 12017;
constexpr uint32_t kInternetCannotConnect = 12029;
constexpr uint32_t kInternetConnectionAborted = 12030;
constexpr uint32_t kInternetConnectionReset = 12031;
constexpr uint32_t kInternetInvalidServerResponse = 12152;
constexpr uint32_t kInternetSecureFailure = 12175;
constexpr uint32_t kWriteFault = 29;
constexpr uint32_t kReadFault = 30;

// The state of one running transfer, shared with the library's callbacks.
struct Transfer {
  CURL* easy = nullptr;
  const HttpRequestSpec* request = nullptr;
  HttpResponse* response = nullptr;
  const std::function<bool()>* cancelled = nullptr;
  StallWatch stallWatch{kStallLimitMs, platform::CurrentClock().MonotonicMs()};
  uint64_t moved = 0;        // bytes both ways, across redirects
  curl_off_t lastCount = 0;  // the library's count of this request, to add the news to `moved`
  bool stalled = false;
  char libraryError[CURL_ERROR_SIZE] = {};
  platform::ReplacingFileWriter writer;
  bool writerOpen = false;
  // Received blocks gather here and go to the file in a few large writes.
  std::vector<char> pending;
  std::FILE* upload = nullptr;
};

long CurrentStatus(CURL* easy) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// Records the thread's last system error and what failed: `what` + ": " + the system's text.
bool RecordLocalFailure(Transfer& transfer, const std::string& what) {
  std::string text;
  if (!platform::SystemErrorMessage(platform::LastError(), text)) text = "system error";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  RaiseLastError();
  transfer.response->localFailure = true;
  transfer.response->failure = what + ": " + text;
  return false;
}

bool WriteBody(Transfer& transfer, const char* data, size_t size) {
  return transfer.writer.Write(data, size) ||
         RecordLocalFailure(transfer,
                            "cannot write the download of '" + transfer.request->target + "'");
}

bool FlushBody(Transfer& transfer) {
  if (transfer.pending.empty()) return true;
  const bool written = WriteBody(transfer, transfer.pending.data(), transfer.pending.size());
  transfer.pending.clear();
  return written;
}

bool StoreBody(Transfer& transfer, const char* data, size_t size) {
  if (!transfer.writerOpen) {
    if (!transfer.writer.Open(transfer.request->target)) {
      return RecordLocalFailure(transfer,
                                "cannot create a file beside '" + transfer.request->target + "'");
    }
    transfer.writerOpen = true;
    transfer.pending.reserve(kWriteBuffer);
  }
  if (transfer.pending.size() + size > kWriteBuffer && !FlushBody(transfer)) return false;
  if (size >= kWriteBuffer) return WriteBody(transfer, data, size);
  transfer.pending.insert(transfer.pending.end(), data, data + size);
  return true;
}

size_t OnBody(char* data, size_t, size_t size, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  HttpResponse& response = *transfer.response;
  if (CurrentStatus(transfer.easy) != 200) {
    const size_t room =
        kResponseTextLimit - std::min(kResponseTextLimit, response.responseText.size());
    response.responseText.append(data, std::min(room, size));
    return size;
  }
  response.received += size;
  if (transfer.request->target.empty()) return size;
  return StoreBody(transfer, data, size) ? size : 0;
}

size_t OnUploadRead(char* buffer, size_t, size_t size, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const size_t read = std::fread(buffer, 1, std::min(size, kUploadBlock), transfer.upload);
  if (read == 0 && std::ferror(transfer.upload)) {
    platform::SetLastErrorFromErrno();
    RecordLocalFailure(transfer, "cannot read '" + transfer.request->uploadFile + "'");
    return CURL_READFUNC_ABORT;
  }
  return read;
}

// The library rewinds the body when it must send it again within one request (authentication).
int OnUploadSeek(void* user, curl_off_t offset, int origin) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::clearerr(transfer.upload);
  if (offset < 0 || offset > std::numeric_limits<long>::max()) return CURL_SEEKFUNC_CANTSEEK;
  return std::fseek(transfer.upload, static_cast<long>(offset), origin) == 0 ? CURL_SEEKFUNC_OK
                                                                             : CURL_SEEKFUNC_FAIL;
}

int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  if (*transfer.cancelled && (*transfer.cancelled)()) return 1;
  // The library counts each request of a redirect chain from 0.
  const curl_off_t count = downloaded + uploaded;
  if (count > transfer.lastCount)
    transfer.moved += static_cast<uint64_t>(count - transfer.lastCount);
  transfer.lastCount = count;
  transfer.stalled =
      transfer.stallWatch.Stalled(platform::CurrentClock().MonotonicMs(), transfer.moved);
  return transfer.stalled ? 1 : 0;
}

void ApplyCredentials(CURL* easy, const HttpSessionOptions& options) {
  if (options.sendServerCredentials) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, options.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, options.password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                     options.serverAuth != 0 ? options.serverAuth : CURLAUTH_BASIC);
  }
  if (options.sendProxyCredentials) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH,
                     options.proxyAuth != 0 ? options.proxyAuth : CURLAUTH_BASIC);
  }
}

// Sets the method and its body source; false when the upload file cannot be opened.
bool ApplyMethod(CURL* easy, Transfer& transfer) {
  const HttpRequestSpec& request = *transfer.request;
  if (!request.uploadFile.empty()) {
    uint64_t size = 0;
    transfer.upload = std::fopen(request.uploadFile.c_str(), "rb");
    if (transfer.upload == nullptr) platform::SetLastErrorFromErrno();
    if (transfer.upload == nullptr || !platform::GetFileSize(request.uploadFile, size)) {
      return RecordLocalFailure(transfer, "cannot read '" + request.uploadFile + "'");
    }
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnUploadRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, OnUploadSeek);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, &transfer);
    if (request.method == "PUT") {
      curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    } else {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
      if (request.method != "POST") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
      }
    }
  } else if (request.method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (request.method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.formBody.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.formBody.size()));
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (request.method != "GET") {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
  }
  return true;
}

void ApplyConnection(CURL* easy, const HttpSessionOptions& options, Transfer& transfer) {
  curl_easy_setopt(easy, CURLOPT_SHARE, http_binding::SharedTransferState());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_URL, transfer.request->url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kAgentName);
  // Always explicit, so the library never picks a proxy from the environment by itself.
  curl_easy_setopt(easy, CURLOPT_PROXY, options.proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, options.noProxy.c_str());
  // The progress check ends stalled attempts by the platform clock; this bounds a connection
  // by real time as well.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kStallLimitMs));
  if (transfer.request->followRedirects) {
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMostRedirects);
    const bool secure = transfer.request->url.rfind("https:", 0) == 0;
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.libraryError);
  curl_easy_setopt(easy, CURLOPT_FILETIME, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadBlock));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  const std::string caFile = http_binding::CaFileOverride();
  if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
}

int64_t ContentLengthHeader(CURL* easy) {
  curl_header* header = nullptr;
  if (curl_easy_header(easy, "Content-Length", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
    return -1;
  }
  char* end = nullptr;
  const long long value = std::strtoll(header->value, &end, 10);
  return end != header->value && value >= 0 ? value : -1;
}

HttpOutcome OutcomeOf(CURLcode code, long status) {
  if (code == CURLE_OK || status > 0) return HttpOutcome::Response;
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpOutcome::ConnectFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_PROXY:
    case CURLE_OPERATION_TIMEDOUT:
      return HttpOutcome::SendFailed;
    default:
      return HttpOutcome::Failed;
  }
}

// Why the exchange ended early, in plain words.
std::string LibraryFailure(const Transfer& transfer, CURLcode code, long status) {
  if (transfer.stalled) {
    return "less than " + std::to_string(kStallBytes) + " bytes moved in " +
           std::to_string(kStallLimitMs / 1000) + " s";
  }
  if (code == CURLE_ABORTED_BY_CALLBACK) return "the transfer was cancelled";
  if (code == CURLE_UNSUPPORTED_PROTOCOL && status >= 300 && status < 400) {
    return "a redirect from https: to http: is not followed";
  }
  return transfer.libraryError[0] != '\0' ? transfer.libraryError : curl_easy_strerror(code);
}

void ReadResponse(CURL* easy, CURLcode code, HttpResponse& response) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  response.transferCode = code;
  response.status = static_cast<int>(status);
  response.outcome = OutcomeOf(code, status);
  if (status > 0) response.contentLength = ContentLengthHeader(easy);
  curl_off_t fileTime = -1;
  if (curl_easy_getinfo(easy, CURLINFO_FILETIME_T, &fileTime) == CURLE_OK) {
    response.lastModified = fileTime;
  }
  curl_easy_getinfo(easy, CURLINFO_HTTPAUTH_AVAIL, &response.authOffered);
  curl_easy_getinfo(easy, CURLINFO_PROXYAUTH_AVAIL, &response.proxyAuthOffered);
}

// Renames the complete body onto the target; an incomplete one is dropped and, unless a local
// failure was recorded already, its read failure recorded.
void FinishBody(Transfer& transfer) {
  HttpResponse& response = *transfer.response;
  if (transfer.request->target.empty() || response.status != 200 || response.localFailure) {
    return;
  }
  const bool whole = response.contentLength < 0 ||
                     response.received == static_cast<uint64_t>(response.contentLength);
  if (response.transferCode != CURLE_OK || !whole) {
    transfer.writer.Abandon();
    RaiseSystemError(InternetErrorOf(response.transferCode == CURLE_OK ? CURLE_PARTIAL_FILE
                                                                       : response.transferCode));
    const std::string why = response.failure.empty() ? "" : ": " + response.failure;
    response.failure =
        whole ? "the body broke off after " + std::to_string(response.received) + " bytes" + why
              : "the body ended after " + std::to_string(response.received) + " of " +
                    std::to_string(response.contentLength) + " bytes" + why;
    return;
  }
  if (!transfer.writerOpen && !StoreBody(transfer, nullptr, 0)) return;
  if (!FlushBody(transfer)) return;
  if (!transfer.writer.Commit()) {
    RecordLocalFailure(transfer, "cannot replace '" + transfer.request->target + "'");
    return;
  }
  response.bodyStored = true;
}

}  // namespace

HttpSession::HttpSession() : m_easy(curl_easy_init()) {}

HttpSession::~HttpSession() {
  if (m_easy != nullptr) curl_easy_cleanup(static_cast<CURL*>(m_easy));
}

HttpResponse HttpSession::Perform(const HttpSessionOptions& options,
                                  const HttpRequestSpec& request) {
  HttpResponse response;
  CURL* easy = static_cast<CURL*>(m_easy);
  curl_easy_reset(easy);
  Transfer transfer;
  transfer.easy = easy;
  transfer.request = &request;
  transfer.response = &response;
  transfer.cancelled = &options.cancelled;
  ApplyConnection(easy, options, transfer);
  ApplyCredentials(easy, options);
  curl_slist* headers = nullptr;
  for (const std::string& header : request.headers) {
    headers = curl_slist_append(headers, header.c_str());
  }
  headers = curl_slist_append(headers, "Expect:");
  // A posted file goes as it is, not labelled as a form.
  if (!request.uploadFile.empty()) headers = curl_slist_append(headers, "Content-Type:");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  if (ApplyMethod(easy, transfer)) {
    CURLcode code = curl_easy_perform(easy);
    if (code == CURLE_ABORTED_BY_CALLBACK && transfer.stalled) code = CURLE_OPERATION_TIMEDOUT;
    ReadResponse(easy, code, response);
    response.stalled = transfer.stalled;
    if (code != CURLE_OK && !response.localFailure) {
      response.failure = LibraryFailure(transfer, code, response.status);
    }
    if (code == CURLE_ABORTED_BY_CALLBACK && !response.localFailure) {
      RaiseSystemError(kInternetOperationCancelled);
    }
    FinishBody(transfer);
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  if (transfer.upload != nullptr) std::fclose(transfer.upload);
  return response;
}

uint32_t InternetErrorOf(int transferCode) {
  switch (static_cast<CURLcode>(transferCode)) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kInternetTimeout;
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return kInternetConnectionAborted;
    case CURLE_RECV_ERROR:
      return kInternetConnectionReset;
    case CURLE_GOT_NOTHING:
      return kInternetInvalidServerResponse;
    case CURLE_ABORTED_BY_CALLBACK:
      return kInternetOperationCancelled;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return kInternetSecureFailure;
    case CURLE_WRITE_ERROR:
      return kWriteFault;
    case CURLE_READ_ERROR:
      return kReadFault;
    default:
      return kInternetInternalError;
  }
}

uint64_t FileTimeFromUnixSeconds(int64_t seconds) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  constexpr int64_t kTicksPerSecond = 10000000LL;
  return static_cast<uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
}

StallWatch::StallWatch(uint64_t limitMs, uint64_t startMs) : m_limitMs(limitMs) {
  m_marks.push_back({startMs, 0});
}

bool StallWatch::Stalled(uint64_t nowMs, uint64_t bytes) {
  const auto since = [nowMs](const Mark& mark) { return nowMs > mark.ms ? nowMs - mark.ms : 0; };
  if (since(m_marks.back()) >= m_limitMs / kStallMarksPerLimit) m_marks.push_back({nowMs, bytes});
  // The span to judge starts at the newest mark that is at least a limit old.
  while (m_marks.size() > 1 && since(m_marks[1]) >= m_limitMs) m_marks.pop_front();
  return since(m_marks.front()) >= m_limitMs && bytes - m_marks.front().bytes < kStallBytes;
}
