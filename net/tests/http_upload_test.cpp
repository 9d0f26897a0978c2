// Uploads, authentication checks, the refused library version, the factory's protocols and an
// unreachable server.
#include "foundation/registry/provider_store.h"
#include "http_object_fixture.h"
#include "net/http/curl_binding.h"

namespace {

using net_test::Response;

TEST_F(HttpObjectTest, PutAndPostSendTheWholeFileAndSucceedOnCreatedStatuses) {
  std::string bytes(70000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  Write(File("up.bin"), bytes);
  server_.Serve("/put", {{201, ""}});
  server_.Serve("/post", {{401, ""}, {204, ""}});
  EXPECT_TRUE(Object(server_, "/put")->UploadFilePut(File("up.bin")));
  auto post = Object(server_, "/post");
  post->SetCredentials("ann", "secret");
  EXPECT_TRUE(post->UploadFilePost(File("up.bin")));

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].body, bytes);
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].body, bytes);
  EXPECT_EQ(requests[2].Header("Authorization"), "Basic YW5uOnNlY3JldA==");
}

TEST_F(HttpObjectTest, ASmallPutMetByConflictIsRepeatedOnceAndALargeOneIsNot) {
  server_.Serve("/small", {{409, "conflict"}});
  server_.Serve("/large", {{409, "conflict"}});
  Write(File("small.bin"), std::string(10000, 's'));
  Write(File("large.bin"), std::string(60000, 'l'));

  auto small = Object(server_, "/small");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(small->UploadFilePut(File("small.bin")));
  EXPECT_EQ(small->GetStatus(), 409);
  EXPECT_EQ(NewSharedError(before),
            HttpError("UploadFile '" + File("small.bin") + "' -> '/small' to server '" +
                      ServerName(server_) + "', Failed with error code 409"));
  EXPECT_FALSE(Object(server_, "/large")->UploadFilePut(File("large.bin")));

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].path, "/small");
  EXPECT_EQ(requests[2].path, "/large");
}

TEST_F(HttpObjectTest, AnUnknownMethodIsRefusedBeforeAnyRequest) {
  Write(File("f.txt"), "x");
  auto object = Object(server_, "/up");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(object->UploadFile(File("f.txt").c_str(), "PATCH"));
  EXPECT_EQ(NewSharedError(before),
            HttpError("UploadFile '" + File("f.txt") + "' -> '/up' to server '" +
                      ServerName(server_) + "', Invalid method 'PATCH'"));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpObjectTest, TestAuthenticationReturnsTheStatusForGivenCredentials) {
  Response guarded{200, "ok"};
  guarded.requireBasicAuth = true;
  guarded.user = "bob";
  guarded.password = "pw";
  server_.Serve("/auth", {guarded});
  EXPECT_EQ(Object(server_, "/auth")->TestAuthentication("", "bob", "pw", "", ""), 200);
  EXPECT_EQ(Object(server_, "/auth")->TestAuthentication(File("t.txt").c_str(), "bob", "no", "",
                                                         ""),
            401);
  EXPECT_EQ(Object("http://127.0.0.1:1/auth")->TestAuthentication("", "", "", "", ""), 0);
}

TEST_F(HttpObjectTest, ALibraryNotNewerThanTheRefusedVersionBlocksEveryTransfer) {
  server_.Serve("/f", {{200, "body"}});
  Write(File("up.txt"), "up");
  ASSERT_EQ(provider_store::WriteString(nullptr, "InvalidWinInetVer",
                                        http_binding::LibraryVersionText().c_str(), false),
            provider_store::kStoreSuccess);
  http_binding::ReevaluateHttpLibraryForTesting();
  auto object = Object(server_, "/f");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(object->GetFile(File("f.txt")));
  EXPECT_EQ(NewSharedError(before),
            HttpError("GetFile '/f' -> '" + File("f.txt") + "' from server '" +
                      ServerName(server_) + "', Failed to connect to server"));
  EXPECT_FALSE(object->Exists());
  EXPECT_FALSE(object->UploadFilePut(File("up.txt")));
  EXPECT_EQ(object->GetFileIfNewer(File("f.txt")), 0);
  EXPECT_TRUE(server_.Requests().empty());

}

TEST_F(HttpObjectTest, ALibraryNewerThanTheRefusedVersionWorks) {
  server_.Serve("/f", {{200, "body"}});
  ASSERT_EQ(provider_store::WriteString(nullptr, "InvalidWinInetVer", "7.88.0.9", false),
            provider_store::kStoreSuccess);
  http_binding::ReevaluateHttpLibraryForTesting();
  EXPECT_TRUE(Object(server_, "/f")->GetFile(File("f.txt")));
}

TEST_F(HttpObjectTest, TheFactoryMakesHttpKindsAndRefusesUnknownProtocols) {
  EXPECT_EQ(std::dynamic_pointer_cast<HxHttpsObject>(Object("HTTP://host/x")), nullptr);
  EXPECT_NE(Object("HTTP://host/x"), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<HxHttpsObject>(CreateRemoteObject("https://host/x")),
            nullptr);
  EXPECT_EQ(CreateRemoteObject("gopher://host/x"), nullptr);
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x2000006bu);
}

TEST_F(HttpObjectTest, AnUnreachableServerWithoutSystemProxyFailsToConnect) {
  auto unreachable = Object("http://127.0.0.1:1/file.txt");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(unreachable->GetFile(File("file.txt")));
  EXPECT_EQ(unreachable->GetStatus(), 0);
  EXPECT_EQ(NewSharedError(before),
            HttpError("GetFile '/file.txt' -> '" + File("file.txt") +
                      "' from server '127.0.0.1:1', Failed to connect to server"));
}

}  // namespace
