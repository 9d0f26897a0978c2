// Uploads, authentication checks and the refused library version.
#include "foundation/registry/provider_store.h"
#include "http_object_fixture.h"
#include "loopback_sockets.h"
#include "net/http/curl_binding.h"

namespace {

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
  EXPECT_EQ(requests[0].method + requests[2].method, "PUTPOST");
  EXPECT_TRUE(requests[0].body == bytes && requests[2].body == bytes);
  EXPECT_EQ(requests[2].Header("Authorization"), "Basic YW5uOnNlY3JldA==");
}

TEST_F(HttpObjectTest, ASmallPutMetByConflictIsRepeatedOnceAndALargeOneIsNot) {
  server_.Serve("/small", {{409, "conflict"}});
  server_.Serve("/large", {{409, "conflict"}});
  Write(File("small.bin"), std::string(10000, 's'));
  Write(File("large.bin"), std::string(60000, 'l'));
  auto small = Object(server_, "/small");
  size_t before = SharedErrorCount();
  EXPECT_FALSE(small->UploadFilePut(File("small.bin")));
  EXPECT_EQ(small->GetStatus(), 409);
  const std::string failure = "UploadFile '" + File("small.bin") + "' -> '/small' to server '" +
                              ServerName(server_) + "', ";
  EXPECT_EQ(NewSharedError(before), HttpError(failure + "Failed with error code 409"));
  EXPECT_FALSE(Object(server_, "/large")->UploadFilePut(File("large.bin")));
  std::string paths;
  for (const auto& request : server_.Requests()) paths += request.path + " ";
  EXPECT_EQ(paths, "/small /small /large ");
  // An unknown method is refused before any request.
  before = SharedErrorCount();
  EXPECT_FALSE(small->UploadFile(File("small.bin").c_str(), "PATCH"));
  EXPECT_EQ(NewSharedError(before), HttpError(failure + "Invalid method 'PATCH'"));
  EXPECT_EQ(server_.Requests().size(), 3u);
}

TEST_F(HttpObjectTest, TestAuthenticationReturnsTheStatusForGivenCredentials) {
  net_test::Response guarded{200, "ok"};
  guarded.authorization = "Basic Ym9iOnB3";  // bob:pw
  server_.Serve("/auth", {guarded});
  net_test::DeadPort dead;
  EXPECT_EQ(Object(server_, "/auth")->TestAuthentication("", "bob", "pw", "", ""), 200);
  EXPECT_EQ(Object(server_, "/auth")->TestAuthentication(File("t").c_str(), "bob", "no", "", ""),
            401);
  EXPECT_EQ(Object(dead.Url("/auth"))->TestAuthentication("", "", "", "", ""), 0);
}

TEST_F(HttpObjectTest, ALibraryNotNewerThanTheRefusedVersionBlocksEveryTransfer) {
  server_.Serve("/f", {{200, "body"}});
  Write(File("up.txt"), "up");
  char providerKey[260];
  ASSERT_EQ(provider_store::ProviderKeyPath(nullptr, providerKey, sizeof providerKey, false), 0u);
  platform::RegistryKey machineKey;
  ASSERT_EQ(machineKey.Create(platform::kHkeyLocalMachine, providerKey, platform::kKeyAllAccess),
            0u);
  for (const std::string& refused : {std::string("7.88.0.9"), http_binding::LibraryVersionText()}) {
    const bool blocked = refused != "7.88.0.9";
    ASSERT_EQ(machineKey.SetString("InvalidWinInetVer", refused), 0u);
    http_binding::ReevaluateHttpLibraryForTesting();
    auto object = Object(server_, "/f");
    const size_t before = SharedErrorCount();
    EXPECT_EQ(object->GetFile(File("f.txt")), !blocked) << refused;
    if (!blocked) continue;
    EXPECT_EQ(NewSharedError(before), GetFileError("/f", File("f.txt"), ServerName(server_),
                                                   "Failed to connect to server"));
    EXPECT_FALSE(object->Exists() || object->UploadFilePut(File("up.txt")));
    EXPECT_EQ(object->GetFileIfNewer(File("f.txt")), 0);
  }
  EXPECT_EQ(server_.Requests().size(), 1u);
}

}  // namespace
