// Protected values: round trips in each scope, values that must read empty, the privacy of the
// key files, and processes racing to make a scope's key.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "foundation/secrets/protected_value.h"
#include "platform/child_process.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;
using secrets::SecretScope;
using secrets::SecretStatus;
constexpr SecretScope kMachine = SecretScope::kMachine;
constexpr SecretScope kUser = SecretScope::kUser;

class ProtectedValueTest : public ::testing::Test {
 protected:
  // What follows runs as this user of the sandbox ("SYSTEM": the system account).
  static void As(const std::string& user) { platform::testing::SetEnvironment("NOLT_USER", user); }
  static std::string Protected(SecretScope scope, std::string_view secret) {
    std::string stored;
    EXPECT_EQ(secrets::Protect(scope, secret, stored), SecretStatus::kOk);
    return stored;
  }
  static std::string Read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
  }
  platform::testing::ScopedSandbox sandbox_{"alice"};
};

TEST_F(ProtectedValueTest, SecretsComeBackOnlyInTheScopeThatProtectedThem) {
  for (const auto& [user, scope] : {std::pair{"SYSTEM", kMachine}, std::pair{"alice", kUser}}) {
    As(user);
    EXPECT_EQ(secrets::ProcessScope(), scope) << user;
    for (const std::string& secret :
         {std::string(), std::string("s3cret"), std::string("\xc3\xa9\0\xff", 4)}) {
      const std::string stored = Protected(scope, secret);
      EXPECT_TRUE(stored.starts_with("tsp1:") && secrets::IsProtectedForm(stored)) << stored;
      EXPECT_TRUE(secret.empty() || stored.find(secret) == std::string::npos);
      EXPECT_NE(Protected(scope, secret), stored) << "a fresh nonce for every value";
      EXPECT_EQ(secrets::RevealStoredSecret(stored, scope), secret) << user;
    }
  }
  As("bob");
  Protected(kUser, "bob's own key");
  As("alice");
  const std::string alices = Protected(kUser, "s3cre");  // 33 bytes: 44 Base64 digits
  As("SYSTEM");
  const std::string machines = Protected(kMachine, "s3cre");
  // The same key under two scopes: the scope itself is bound in.
  As("dave");
  Protected(kUser, "");
  fs::copy_file(secrets::KeyFilePath(kMachine), secrets::KeyFilePath(kUser),
                fs::copy_options::overwrite_existing);
  const struct {
    const char* what;
    const char* reader;
    SecretScope scope;
    std::string stored;
    SecretStatus expected;
  } rows[] = {
      {"tag changed", "alice", kUser, alices.substr(0, 48) + (alices[48] == 'A' ? "B" : "A"),
       SecretStatus::kMismatch},
      {"a block cut off", "alice", kUser, alices.substr(0, 45), SecretStatus::kMismatch},
      {"shorter than nonce and tag", "alice", kUser, alices.substr(0, 41),
       SecretStatus::kMalformed},
      {"not Base64", "alice", kUser, "tsp1:AA@A", SecretStatus::kMalformed},
      {"unknown version", "alice", kUser, "tsp2:" + alices.substr(5),
       SecretStatus::kUnknownVersion},
      {"another user's", "bob", kUser, alices, SecretStatus::kMismatch},
      {"the machine's, user's scope", "alice", kUser, machines, SecretStatus::kMismatch},
      {"a user's, machine's scope", "SYSTEM", kMachine, alices, SecretStatus::kMismatch},
      {"the machine's key, user's scope", "dave", kUser, machines, SecretStatus::kMismatch},
      {"a user without a key", "carol", kUser, alices, SecretStatus::kNoKey},
      {"stored in clear before", "alice", kUser, "hunter2", SecretStatus::kNotProtected},
  };
  for (const auto& row : rows) {
    As(row.reader);
    std::string secret = "left over";
    EXPECT_EQ(secrets::Unprotect(row.scope, row.stored, secret), row.expected) << row.what;
    EXPECT_EQ(secret, "") << row.what;
    SecretStatus status = SecretStatus::kOk;
    const bool clear = row.expected == SecretStatus::kNotProtected;
    EXPECT_EQ(secrets::RevealStoredSecret(row.stored, row.scope, &status), clear ? row.stored : "");
    EXPECT_EQ(status, row.expected) << row.what;
  }
}

TEST_F(ProtectedValueTest, KeyFilesAreTheirOwnersAloneAndNeverReplaced) {
  const std::string key = secrets::KeyFilePath(kUser);
  const std::function<bool()> spoilers[] = {
      // false: cannot be done here
      [&] { return chmod(key.c_str(), 0640) == 0; },  // readable by the group
      [&] { return chmod(key.c_str(), 0604) == 0; },  // by others
      [&] { return fs::rename(key, key + ".real"), fs::create_symlink(key + ".real", key), true; },
      [&] { return fs::resize_file(key, 16), true; },
      [&] {
        return chmod(fs::path(key).parent_path().c_str(), 0777) == 0;
      },  // others may change it
      [&] { return geteuid() == 0 && chown(key.c_str(), 65534, 65534) == 0; },  // root only
  };
  for (const auto& spoil : spoilers) {
    fs::remove_all(fs::path(key).parent_path());
    const std::string stored = Protected(kUser, "x");
    struct stat file {
    }, folder{};
    ASSERT_EQ(stat(key.c_str(), &file) | stat(fs::path(key).parent_path().c_str(), &folder), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(file.st_size, 32);
    if (!spoil()) continue;
    const std::string spoiled = Read(key);
    std::string secret;
    EXPECT_EQ(secrets::Unprotect(kUser, stored, secret), SecretStatus::kKeyUnreadable);
    EXPECT_EQ(secrets::Protect(kUser, "y", secret), SecretStatus::kKeyUnreadable);
    EXPECT_EQ(Read(key), spoiled) << "a key that exists is never replaced";
  }
}

TEST_F(ProtectedValueTest, ProcessesRacingToMakeTheKeyAgreeOnIt) {
  constexpr int kPeers = 6;
  for (const auto& [user, scope] : {std::pair{"SYSTEM", kMachine}, std::pair{"alice", kUser}}) {
    As(user);
    const std::string tag = std::string("race_") + user;
    auto ready = platform::Semaphore::Create("SECRETS_PEER_READY_" + tag, 0, kPeers);
    auto go = platform::Event::Create("SECRETS_PEER_GO_" + tag, true, false);
    ASSERT_TRUE(ready && go);
    std::array<platform::ChildProcess, kPeers> peers;
    auto output = [&](int i) { return sandbox_.Root() + "/" + tag + std::to_string(i); };
    for (int i = 0; i < kPeers; ++i) {
      ASSERT_TRUE(peers[i].Start({SECRETS_PEER_PATH, tag, std::to_string(i)}, {}, output(i)));
    }
    for (int i = 0; i < kPeers; ++i) {  // every peer is about to protect before any starts
      ASSERT_EQ(platform::WaitForOne(*ready, 20000), platform::kWaitObject0) << user;
    }
    ASSERT_TRUE(go->Set());
    for (int i = 0; i < kPeers; ++i) {
      ASSERT_EQ(peers[i].Wait(20000), 0) << Read(output(i));
      const std::string stored = Read(output(i));
      std::string secret;
      EXPECT_EQ(secrets::Unprotect(scope, stored.substr(0, stored.find('\n')), secret),
                SecretStatus::kOk);
      EXPECT_EQ(secret, std::to_string(i)) << user;
    }
    const fs::path folder = fs::path(secrets::KeyFilePath(scope)).parent_path();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "no temporary file left";
  }
}

}  // namespace
