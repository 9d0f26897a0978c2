// Downloads through the HTTP transfer object: bodies and times, long queries as form posts,
// credentials on a challenge, broken bodies, freshness checks, HEAD, DELETE, reuse of the
// kept-alive connection, and HTTPS with a private authority.
#include <filesystem>
#include <thread>

#include "http_object_fixture.h"
#include "platform/files.h"

namespace {

using net_test::Response;

// A file time of whole seconds, as an HTTP date carries it.
constexpr uint64_t kServedTime = 133500000000000000ULL;

TEST_F(HttpObjectTest, GetStoresTheBodyWithTheServedTimeAndBackslashesBecomeSlashes) {
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
  Write(File("served.bin"), bytes);
  ASSERT_TRUE(platform::SetLastWriteTime(File("served.bin"), kServedTime));
  server_.ServeFile("/dir/served.bin", File("served.bin"));

  auto object = Object("http:\\\\" + ServerName(server_) + "\\dir\\served.bin");
  ASSERT_TRUE(object);
  EXPECT_EQ(std::string(std::string_view(object->ObjectPath())), "/dir/served.bin");
  ASSERT_TRUE(object->GetFile(File("copy.bin")));
  EXPECT_EQ(object->GetStatus(), 200);
  EXPECT_EQ(Read(File("copy.bin")), bytes);
  uint64_t time = 0;
  ASSERT_TRUE(platform::GetLastWriteTime(File("copy.bin"), time));
  EXPECT_EQ(time, kServedTime);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Ostrel");
  EXPECT_EQ(requests[0].Header("Pragma"), "no-cache");
}

TEST_F(HttpObjectTest, QueriesOverLongestGetAreFormPostsAndPostAlwaysIs) {
  server_.Serve("/q", {{200, "answer"}});
  const std::string query1023(1023, 'a'), query1024(1024, 'b');
  ASSERT_TRUE(Object(server_, "/q?" + query1023)->GetFile(File("get.txt")));
  ASSERT_TRUE(Object(server_, "/q?" + query1024)->GetFile(File("post.txt")));
  ASSERT_TRUE(Object(server_, "/q?x=1")->GetFile(File("short.txt"), "post"));
  EXPECT_EQ(Read(File("post.txt")), "answer");

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].query, query1023);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].query, "");
  EXPECT_EQ(requests[1].body, query1024);
  EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].body, "x=1");
}

TEST_F(HttpObjectTest, ASecondChallengeEndsWithItsStatusAndAFirstIsAnsweredWithCredentials) {
  server_.Serve("/locked", {{401, "go away"}});
  auto locked = Object(server_, "/locked");
  locked->SetCredentials("bob", "wrong");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(locked->GetFile(File("locked.txt")));
  EXPECT_EQ(locked->GetStatus(), 401);
  EXPECT_EQ(NewSharedError(before),
            HttpError("GetFile '/locked' -> '" + File("locked.txt") + "' from server '" +
                      ServerName(server_) + "', Failed with error code 401"));
  char text[4] = {};
  locked->GetResponseText(text, sizeof text);
  EXPECT_STREQ(text, "go ");
  EXPECT_FALSE(std::filesystem::exists(File("locked.txt")));

  Response secret{200, "secret"};
  secret.requireBasicAuth = true;
  secret.user = "bob";
  secret.password = "pw";
  server_.Serve("/secret", {secret});
  auto open = Object(server_, "/secret");
  open->SetCredentials("bob", "pw");
  ASSERT_TRUE(open->GetFile(File("secret.txt")));
  EXPECT_EQ(Read(File("secret.txt")), "secret");

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2].Header("Authorization"), "");
  EXPECT_EQ(requests[3].Header("Authorization"), "Basic Ym9iOnB3");
}

TEST_F(HttpObjectTest, ABrokenOrCancelledBodyLeavesTheOldTargetAndNoTemporaryFile) {
  Response broken{200, std::string(50000, 'n')};
  broken.breakAfter = 20000;
  server_.Serve("/broken", {broken});
  std::filesystem::create_directory(File("content"));
  const std::string target = File("content/file.txt");
  Write(target, "old content");

  EXPECT_FALSE(Object(server_, "/broken")->GetFile(target));
  server_.Serve("/whole", {{200, "new content"}});
  auto cancelled = Object(server_, "/whole");
  cancelled->Cancel();
  EXPECT_FALSE(cancelled->GetFile(target));

  EXPECT_EQ(Read(target), "old content");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(File("content")))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(HttpObjectTest, GetFileIfNewerComparesTimeAndSizeBeforeDownloading) {
  Write(File("served.txt"), "version one");
  ASSERT_TRUE(platform::SetLastWriteTime(File("served.txt"), kServedTime));
  server_.ServeFile("/f.txt", File("served.txt"));
  auto object = Object(server_, "/f.txt");

  EXPECT_EQ(object->GetFileIfNewer(File("local.txt")), 1);
  EXPECT_EQ(object->GetFileIfNewer(File("local.txt")), 2);
  // Same size, a later time on the server.
  Write(File("served.txt"), "version two");
  ASSERT_TRUE(platform::SetLastWriteTime(File("served.txt"), kServedTime + 10000000));
  EXPECT_EQ(object->GetFileIfNewer(File("local.txt")), 1);
  EXPECT_EQ(Read(File("local.txt")), "version two");
  // Same time, another size.
  Write(File("served.txt"), "version three");
  ASSERT_TRUE(platform::SetLastWriteTime(File("served.txt"), kServedTime + 10000000));
  EXPECT_EQ(object->GetFileIfNewer(File("local.txt")), 1);
  EXPECT_EQ(Read(File("local.txt")), "version three");

  std::vector<std::string> methods;
  for (const auto& request : server_.Requests()) methods.push_back(request.method);
  EXPECT_EQ(methods, (std::vector<std::string>{"GET", "HEAD", "HEAD", "GET", "HEAD", "GET"}));

  const size_t before = SharedErrorCount();
  EXPECT_EQ(Object(server_, "/none")->GetFileIfNewer(File("local.txt")), 0);
  EXPECT_EQ(NewSharedError(before),
            HttpError("GetFileIfNewer '/none' -> '" + File("local.txt") + "' from server '" +
                      ServerName(server_) + "', failed."));
}

TEST_F(HttpObjectTest, ExistsAndDeleteFollowTheStatus) {
  server_.Serve("/here", {{200, "x"}});
  server_.Serve("/forbidden", {{403, "no"}});
  EXPECT_TRUE(Object(server_, "/here")->Exists());
  auto missing = Object(server_, "/missing");
  EXPECT_FALSE(missing->Exists());
  EXPECT_EQ(missing->GetStatus(), 404);
  EXPECT_TRUE(Object(server_, "/here")->Delete());
  EXPECT_FALSE(Object(server_, "/forbidden")->Delete());

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[2].method, "DELETE");
}

TEST_F(HttpObjectTest, ObjectsMadeOneAfterAnotherShareOneConnection) {
  server_.Serve("/a", {{200, "a"}});
  server_.Serve("/b", {{200, "b"}});
  ASSERT_TRUE(Object(server_, "/a")->GetFile(File("a.txt")));
  ASSERT_TRUE(Object(server_, "/b")->GetFile(File("b.txt")));
  ASSERT_TRUE(Object(server_, "/a")->Exists());
  EXPECT_EQ(server_.Requests().size(), 3u);
  EXPECT_EQ(server_.ConnectionCount(), 1u);
}

// The library does not support one connection pool used by concurrent threads.
TEST_F(HttpObjectTest, EachThreadKeepsItsOwnConnectionPool) {
  server_.Serve("/a", {{200, "a"}});
  ASSERT_TRUE(Object(server_, "/a")->Exists());
  bool fetched = false;
  std::thread other([&] {
    fetched = Object(server_, "/a")->GetFile(File("a.txt")) && Object(server_, "/a")->Exists();
  });
  other.join();
  EXPECT_TRUE(fetched);
  EXPECT_EQ(server_.Requests().size(), 3u);
  EXPECT_EQ(server_.ConnectionCount(), 2u);
}

TEST_F(HttpObjectTest, HttpsVerifiesTheServerAgainstTheConfiguredAuthority) {
  net_test::HttpsTestServer secure;
  ASSERT_TRUE(secure.Listening());
  secure.Serve("/s.txt", {{200, "over tls"}});
  auto object = Object(secure, "/s.txt");
  ASSERT_NE(std::dynamic_pointer_cast<HxHttpsObject>(object), nullptr);
  EXPECT_FALSE(object->GetFile(File("s.txt")));  // the system store does not know the authority
  EXPECT_TRUE(secure.Requests().empty());

  platform::testing::SetEnvironment("NOLT_CA_FILE", net_test::HttpsTestServer::CaFile());
  ASSERT_TRUE(Object(secure, "/s.txt")->GetFile(File("s.txt")));
  EXPECT_EQ(Read(File("s.txt")), "over tls");
  object.reset();
  DropPooledConnections();
}

}  // namespace
