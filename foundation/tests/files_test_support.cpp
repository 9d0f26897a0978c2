#include "files_test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "build_tree_files.h"
#include "foundation/files/file_operations.h"
#include "platform/locations.h"

namespace {
constexpr const char* kRepairPipe = "__RepairService_Pipe__prov";
constexpr uid_t kUnprivileged = 65534;
}  // namespace

FilesTest::FilesTest()
    : dir_(sandbox_.Root() + "/work"),
      deleteDeferral_(SetDeleteDeferral(false)),
      replaceDeferral_(SetReplaceDeferral(false)),
      restartPending_(SetRestartPending(false)) {
  std::filesystem::create_directories(dir_);
}

FilesTest::~FilesTest() {
  SetDeleteDeferral(deleteDeferral_);
  SetReplaceDeferral(replaceDeferral_);
  SetRestartPending(restartPending_);
  // Whatever a test locked must not keep the sandbox from going.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_, ignored)) {
    if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0755);
  }
}

void FilesTest::Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string FilesTest::Read(const std::string& path) { return ReadFile(path); }

bool FilesTest::Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string FilesTest::PendingList() { return Read(platform::PendingOperationsPath()); }

int FilesTest::RunWithoutPrivileges(const std::function<int()>& body) {
  if (geteuid() != 0) return body();
  chmod(sandbox_.Root().c_str(), 0755);
  const pid_t child = fork();
  if (child == 0) {
    _exit(setgid(kUnprivileged) == 0 && setuid(kUnprivileged) == 0 ? body() : 100);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

FakeRepairService::FakeRepairService(uint32_t answer) {
  EXPECT_TRUE(listener_.Listen(kRepairPipe, 1));
  chmod(platform::PipeDirectory().c_str(), 0755);
  chmod((platform::PipeDirectory() + "/" + kRepairPipe).c_str(), 0666);
  thread_ = std::thread([this, answer] {
    platform::LocalMessageSocket client;
    if (!listener_.Accept(client) || !client.Receive(received_)) return;
    std::vector<uint8_t> reply(260, 0);
    std::memcpy(reply.data(), &answer, sizeof answer);
    client.Send(reply.data(), reply.size());
  });
}

FakeRepairService::~FakeRepairService() { Received(); }

const std::vector<uint8_t>& FakeRepairService::Received() {
  if (!thread_.joinable()) return received_;
  // A request that never came must not keep the service waiting: an empty client ends it.
  platform::LocalMessageSocket nobody;
  nobody.Connect(kRepairPipe);
  nobody.Close();
  thread_.join();
  return received_;
}

uint32_t WordAt(const std::vector<uint8_t>& message, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = value << 8 | message.at(offset + i);
  return value;
}

std::string TextAt(const std::vector<uint8_t>& message, size_t offset) {
  return std::string(reinterpret_cast<const char*>(message.data() + offset));
}
