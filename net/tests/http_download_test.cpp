// Downloads through the HTTP transfer object: form posts for long queries, credentials on a
// challenge, failures and their causes, freshness checks and times, HEAD and DELETE, escaped
// paths, redirects and HTTPS, stalled servers, and kept-alive connections.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "http_object_fixture.h"
#include "loopback_sockets.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using net_test::RawHttpServer;

// A file time of whole seconds, as an HTTP date carries it.
constexpr uint64_t kServedTime = 133500000000000000ULL;

uint64_t LastWriteTime(const std::string& path) {
  uint64_t time = 0;
  platform::GetLastWriteTime(path, time);
  return time;
}

std::string Methods(const std::vector<net_test::RecordedRequest>& requests) {
  std::string methods;
  for (const auto& request : requests) methods += request.method + " ";
  return methods;
}

TEST_F(HttpObjectTest, QueriesOverLongestGetAreFormPostsAndPostAlwaysIs) {
  server_.Serve("/q", {{200, "answer"}});
  const std::string query1023(1023, 'a'), query1024(1024, 'b');
  ASSERT_TRUE(Object("http:\\\\" + ServerName(server_) + "\\q?" + query1023)->GetFile(File("a")));
  ASSERT_TRUE(Object(server_, "/q?" + query1024)->GetFile(File("post.txt")));
  ASSERT_TRUE(Object(server_, "/q?x=1")->GetFile(File("short.txt"), "post"));
  EXPECT_EQ(Read(File("post.txt")), "answer");

  const auto requests = server_.Requests();
  ASSERT_EQ(Methods(requests), "GET POST POST ");
  EXPECT_EQ(requests[0].path + "?" + requests[0].query, "/q?" + query1023);
  EXPECT_EQ(requests[0].Header("User-Agent") + requests[0].Header("Pragma"), "Ostrelno-cache");
  EXPECT_EQ(requests[1].query + requests[1].body, query1024);
  EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[2].body, "x=1");
}

TEST_F(HttpObjectTest, ASecondChallengeEndsWithItsStatusAndAFirstIsAnsweredWithCredentials) {
  server_.Serve("/locked", {{401, "go away"}});
  net_test::Response secret{200, "secret"};
  secret.authorization = "Basic Ym9iOnB3";  // bob:pw
  server_.Serve("/secret", {secret});
  for (const char* path : {"/locked", "/secret"}) {
    auto object = Object(server_, path);
    object->SetCredentials("bob", "pw");
    EXPECT_EQ(object->GetFile(File("out")), path == std::string("/secret"));
  }
  auto locked = Object(server_, "/locked");
  EXPECT_FALSE(locked->GetFile(File("out")));
  EXPECT_EQ(locked->GetStatus(), 401);
  char text[4] = {};
  locked->GetResponseText(text, sizeof text);
  EXPECT_STREQ(text, "go ");
  EXPECT_EQ(Read(File("out")), "secret");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[2].Header("Authorization"), "");  // credentials go once challenged
}

// Lets a test's writes fail as on a full disk: files may not grow past `bytes`.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(HttpObjectTest, AFailedDownloadKeepsTheTargetAndSaysWhy) {
  server_.Serve("/whole", {{200, std::string(50000, 'w')}});
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  RawHttpServer cut("HTTP/1.0 200 OK\r\nContent-Length: 50000\r\n\r\n" + std::string(20000, 'c'));
  RawHttpServer unfinished(chunked + "5\r\nhello\r\n");
  RawHttpServer badChunk(chunked + "zz\r\nhello\r\n0\r\n\r\n");
  net_test::DeadPort dead;
  const std::string store = "cannot write the download of '" + File("content/f") + "': ";
  const struct {
    std::string location, target, cause;
    int status;
    bool cancel = false, diskFull = false;
  } kCases[] = {
      {cut.Url("/c"), "content/f", "the body ended after 20000 of 50000 bytes", 200},
      {unfinished.Url("/c"), "content/f", "the body broke off after 5 bytes: ", 200},
      {badChunk.Url("/c"), "content/f", "the body broke off after 0 bytes: ", 200},
      {server_.Url("/missing"), "content/f", "the server answered with status 404", 404},
      {server_.Url("/whole"), "content/f", "the transfer was cancelled", 0, true},
      {server_.Url("/whole"), "content/f", store + "There is not enough space on the disk.", 200,
       false, true},
      {server_.Url("/whole"), "absent/f",
       "cannot create a file beside '" + File("absent/f") + "': The system cannot find", 200},
      {dead.Url("/f"), "content/f", "Failed to connect to 127.0.0.1", -1},
  };
  fs::create_directory(File("content"));
  Write(File("content/f"), "old content");
  for (const auto& c : kCases) {
    auto object = Object(c.location);
    if (c.cancel) object->Cancel();
    const size_t before = SharedErrorCount();
    {
      std::optional<ScopedFileSizeLimit> limit;
      if (c.diskFull) limit.emplace(1000);
      EXPECT_FALSE(object->GetFile(File(c.target))) << c.location;
    }
    EXPECT_EQ(object->LastFailureCause().substr(0, c.cause.size()), c.cause);
    EXPECT_EQ(object->GetStatus(), std::max(c.status, 0));
    EXPECT_EQ(NewSharedError(before),
              GetFileError(object->ObjectPath().c_str(), File(c.target), object->Server().c_str(),
                           c.status < 0 ? "Failed to connect to server"
                                        : "Failed with error code " + std::to_string(c.status)));
    EXPECT_EQ(Read(File("content/f")), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(File("content")), {}), 1);
  }
}

// Only GetFileIfNewer sets the target's time, also when a long query makes it a form post.
TEST_F(HttpObjectTest, GetFileIfNewerComparesTimeAndSizeAndKeepsTheServedTime) {
  Write(File("served.txt"), "version one");
  ASSERT_TRUE(platform::SetLastWriteTime(File("served.txt"), kServedTime));
  server_.ServeFile("/f.txt", File("served.txt"));
  for (const std::string& query : {std::string(), "?" + std::string(1024, 'q')}) {
    ASSERT_TRUE(Object(server_, "/f.txt" + query)->GetFile(File("plain")));
    EXPECT_NE(LastWriteTime(File("plain")), kServedTime);
    fs::remove(File("newer"));
    EXPECT_EQ(Object(server_, "/f.txt" + query)->GetFileIfNewer(File("newer")), 1);
    EXPECT_EQ(LastWriteTime(File("newer")), kServedTime);
  }
  EXPECT_EQ(Methods(server_.Requests()), "GET GET POST POST ");

  auto object = Object(server_, "/f.txt");
  EXPECT_EQ(object->GetFileIfNewer(File("newer")), 2);
  // Same size and a later time, then the same time and another size.
  for (const std::string version : {"version two", "version three"}) {
    Write(File("served.txt"), version);
    ASSERT_TRUE(platform::SetLastWriteTime(File("served.txt"), kServedTime + 10000000));
    EXPECT_EQ(object->GetFileIfNewer(File("newer")), 1);
    EXPECT_EQ(Read(File("newer")), version);
  }
  EXPECT_EQ(Methods(server_.Requests()), "GET GET POST POST HEAD HEAD GET HEAD GET ");
  const size_t before = SharedErrorCount();
  EXPECT_EQ(Object(server_, "/none")->GetFileIfNewer(File("newer")), 0);
  EXPECT_EQ(NewSharedError(before),
            HttpError("GetFileIfNewer '/none' -> '" + File("newer") + "' from server '" +
                      ServerName(server_) + "', failed."));
}

TEST_F(HttpObjectTest, ExistsAndDeleteFollowTheStatus) {
  server_.Serve("/here", {{200, "x"}});
  server_.Serve("/forbidden", {{403, "no"}});
  auto missing = Object(server_, "/missing");
  EXPECT_TRUE(Object(server_, "/here")->Exists());
  EXPECT_FALSE(missing->Exists());
  EXPECT_EQ(missing->GetStatus(), 404);
  EXPECT_TRUE(Object(server_, "/here")->Delete());
  EXPECT_FALSE(Object(server_, "/forbidden")->Delete());
  EXPECT_EQ(Methods(server_.Requests()), "HEAD HEAD DELETE DELETE ");
}

TEST_F(HttpObjectTest, PathsAreSentEscaped) {
  const std::pair<std::string, std::string> kSentAndServed[] = {
      {"/a b.txt", "/a b.txt"},
      {"/caf\xc3\xa9 \"{x}\".txt", "/caf\xc3\xa9 \"{x}\".txt"},
      {"/already%20escaped", "/already escaped"},
  };
  for (const auto& [sent, served] : kSentAndServed) {
    server_.Serve(served, {{200, "found"}});
    EXPECT_TRUE(Object(server_, sent)->GetFile(File("out"))) << sent;
  }
  EXPECT_EQ(server_.Requests().size(), std::size(kSentAndServed));
}

TEST_F(HttpObjectTest, RedirectsAreFollowedWithinBoundsAndNeverFromHttpsToHttp) {
  net_test::HttpsTestServer secure;
  const auto to = [](const std::string& url) { return net_test::HeaderList{{"Location", url}}; };
  server_.Serve("/final", {{200, "arrived"}});
  secure.Serve("/final", {{200, "arrived"}});
  server_.Serve("/moved", {{302, "", to("/final")}});
  server_.Serve("/seen-other", {{303, "", to("/final")}});
  server_.Serve("/to-secure", {{301, "", to(secure.Url("/final"))}});
  server_.Serve("/loop", {{302, "", to("/loop")}});
  secure.Serve("/to-plain", {{302, "", to(server_.Url("/final"))}});
  // The system store does not know the test authority.
  EXPECT_FALSE(Object(secure, "/final")->GetFile(File("out")));
  EXPECT_TRUE(secure.Requests().empty());
  platform::testing::SetEnvironment("NOLT_CA_FILE", net_test::HttpsTestServer::CaFile());
  const struct {
    std::string location, method;
    int status;
    std::string cause;
  } kCases[] = {
      {server_.Url("/moved"), "GET", 200, ""},
      {server_.Url("/seen-other?form=1"), "POST", 200, ""},
      {server_.Url("/to-secure"), "GET", 200, ""},
      {server_.Url("/loop"), "GET", 302, "Maximum (10) redirects followed"},
      {secure.Url("/to-plain"), "GET", 302, "a redirect from https: to http: is not followed"},
  };
  for (const auto& c : kCases) {
    auto object = Object(c.location);
    EXPECT_EQ(object->GetFile(File("out"), c.method.c_str()), c.status == 200) << c.location;
    EXPECT_EQ(object->GetStatus(), c.status) << c.location;
    EXPECT_EQ(object->LastFailureCause(), c.cause) << c.location;
  }
  EXPECT_TRUE(Object(server_, "/moved")->Exists());
  std::string finals;
  for (const auto& request : server_.Requests()) finals += request.path == "/final" ? "f" : "";
  EXPECT_EQ(finals, "fff");  // none from the secure server's redirect
  EXPECT_EQ(server_.Requests().size(), 3u + 3u + 1u + 11u);
  DropPooledConnections();
}

// A server that never answers, one that trickles its body, and one whose queue is full: each
// attempt ends once less than 1 KiB moved within the limit; an operation repeats one that got
// no response, but makes no more attempts after two stalled.
TEST_F(HttpObjectTest, StalledAttemptsEnd) {
  platform::DrivenClock clock;
  platform::InstallClock(&clock);
  RawHttpServer silent("", true);
  RawHttpServer trickling("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n", true, "ab");
  net_test::DeadPort hanging(net_test::DeadPort::kHanging);
  const struct {
    std::string location;
    RawHttpServer* server;
    bool ifNewer;
    int status;
    size_t attempts;
  } kCases[] = {
      {silent.Url("/s"), &silent, false, 0, 2},
      {silent.Url("/s"), &silent, true, 0, 2},  // HEAD, then GET
      {trickling.Url("/t"), &trickling, false, 200, 1},
      {hanging.Url("/h"), nullptr, false, 0, 0},
  };
  Write(File("out"), "old");
  for (const auto& c : kCases) {
    auto object = Object(c.location);
    const size_t before = c.server != nullptr ? c.server->RequestCount() : 0;
    auto download = std::async(std::launch::async, [&] {
      return c.ifNewer ? object->GetFileIfNewer(File("out")) != 0 : object->GetFile(File("out"));
    });
    const auto ended = [&] {
      return download.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
    };
    for (int i = 0; i < 1000 && !ended(); ++i) {
      if (c.server != nullptr) c.server->Release();
      clock.Advance(kStallLimitMs / 4);
    }
    if (!ended()) {
      ADD_FAILURE() << c.location << " never ended";
      object->Cancel();
    }
    EXPECT_FALSE(download.get());
    EXPECT_EQ(object->GetStatus(), c.status) << c.location;
    EXPECT_NE(object->LastFailureCause().find("less than 1024 bytes moved in 60 s"),
              std::string::npos)
        << object->LastFailureCause();
    if (c.server != nullptr) {
      EXPECT_EQ(c.server->RequestCount() - before, c.attempts) << c.location;
    }
  }
}

TEST_F(HttpObjectTest, EachThreadKeepsOneConnectionForItsObjects) {
  server_.Serve("/a", {{200, "a"}});
  ASSERT_TRUE(Object(server_, "/a")->GetFile(File("a.txt")));
  ASSERT_TRUE(Object(server_, "/a")->Exists());
  EXPECT_EQ(server_.ConnectionCount(), 1u);
  // The library does not support one connection pool used by concurrent threads.
  bool fetched = false;
  std::thread other([&] {
    fetched = Object(server_, "/a")->GetFile(File("a.txt")) && Object(server_, "/a")->Exists();
  });
  other.join();
  EXPECT_TRUE(fetched);
  EXPECT_EQ(server_.Requests().size(), 4u);
  EXPECT_EQ(server_.ConnectionCount(), 2u);
}

}  // namespace
