#include "net/http/curl_binding.h"

#include <curl/curl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "foundation/log/hx_trace.h"
#include "foundation/registry/provider_store.h"
#include "net/http/curl_binding_for_testing.h"

namespace {

using Version = std::array<unsigned, 4>;

Version LibraryVersion() {
  const unsigned number = curl_version_info(CURLVERSION_NOW)->version_num;
  return {(number >> 16) & 0xff, (number >> 8) & 0xff, number & 0xff, 0};
}

// The refused version from the machine-level store; false when there is none.
bool RefusedVersion(Version& version) {
  HxStr text;
  if (provider_store::ReadString(nullptr, "InvalidWinInetVer", text, false) !=
      provider_store::kStoreSuccess) {
    return false;
  }
  return std::sscanf(text.c_str(), "%u.%u.%u.%u", &version[0], &version[1], &version[2],
                     &version[3]) == 4;
}

struct Binding {
  std::mutex lock;
  bool evaluated = false;
  bool available = false;
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

bool EvaluateAvailability() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
  if (!initialised) return false;
  Version refused{};
  if (RefusedVersion(refused) && !(LibraryVersion() > refused)) {
    HxTrace::Instance().TraceL1(kTraceFiles, "HTTP library %s refused by InvalidWinInetVer\n",
                                http_binding::LibraryVersionText().c_str());
    return false;
  }
  return true;
}

// One mutex per kind of shared data, so a DNS lookup never waits for the connection pool. A
// share belongs to one thread; the locks cover an easy handle that moves to another thread.
std::array<std::mutex, CURL_LOCK_DATA_LAST> g_shareLocks;

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
  g_shareLocks[static_cast<size_t>(data)].lock();
}
void UnlockShare(CURL*, curl_lock_data data, void*) {
  g_shareLocks[static_cast<size_t>(data)].unlock();
}

CURLSH* MakeShare() {
  CURLSH* share = curl_share_init();
  if (share == nullptr) return nullptr;
  curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShare);
  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  return share;
}

// The library does not support one connection pool used by concurrent threads, so each thread
// keeps its own: transfers made one after another on a thread (the updater's) still reuse
// their connection.
struct ThreadShare {
  CURLSH* share = MakeShare();
  ThreadShare() = default;
  ThreadShare(const ThreadShare&) = delete;
  ThreadShare& operator=(const ThreadShare&) = delete;
  // A share that an easy handle still uses (one of a static object) is left to the process end.
  ~ThreadShare() {
    if (share != nullptr) curl_share_cleanup(share);
  }
};
thread_local ThreadShare t_threadShare;

}  // namespace

namespace http_binding {

bool HttpLibraryAvailable() {
  Binding& binding = TheBinding();
  std::lock_guard<std::mutex> hold(binding.lock);
  if (!binding.evaluated) {
    binding.available = EvaluateAvailability();
    binding.evaluated = true;
  }
  return binding.available;
}

std::string LibraryVersionText() {
  const Version version = LibraryVersion();
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", version[0], version[1], version[2],
                version[3]);
  return text;
}

CURLSH* SharedTransferState() { return t_threadShare.share; }

std::string CaFileOverride() {
  const char* file = std::getenv("NOLT_CA_FILE");
  return file != nullptr ? file : "";
}

bool DropSharedConnectionsForTesting() {
  CURLSH*& share = t_threadShare.share;
  if (share != nullptr && curl_share_cleanup(share) != CURLSHE_OK) return false;
  share = MakeShare();
  return true;
}

void ReevaluateHttpLibraryForTesting() {
  Binding& binding = TheBinding();
  std::lock_guard<std::mutex> hold(binding.lock);
  binding.evaluated = false;
}

}  // namespace http_binding
