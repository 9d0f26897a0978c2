// A fresh sandbox for each file-operation test, with helpers to make and read small files, a
// repair service that answers one request, and a way to run where permission bits count.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/local_socket.h"
#include "scoped_sandbox.h"

class FilesTest : public ::testing::Test {
 protected:
  FilesTest();
  ~FilesTest() override;

  // A path below the test's own directory.
  std::string At(const std::string& relative) const { return dir_ + "/" + relative; }
  static void Write(const std::string& path, const std::string& text);
  static std::string Read(const std::string& path);
  static bool Exists(const std::string& path);
  // The lines of the pending-operations list ("" when there is none).
  static std::string PendingList();

  // Runs `body` where the permission bits count: as uid 65534 in a child process when this
  // process is root (root passes every check), else here. Returns the body's result, -1 when
  // the child did not end normally.
  int RunWithoutPrivileges(const std::function<int()>& body);

  platform::testing::ScopedSandbox sandbox_;

 private:
  std::string dir_;
  bool deleteDeferral_;
  bool replaceDeferral_;
  bool restartPending_;
};

// The provider's repair service (context "ProviderId" "prov"): answers one request with a fixed
// result word and keeps what it received. Any uid may connect.
class FakeRepairService {
 public:
  explicit FakeRepairService(uint32_t answer);
  ~FakeRepairService();
  const std::vector<uint8_t>& Received();

 private:
  platform::LocalMessageListener listener_;
  std::thread thread_;
  std::vector<uint8_t> received_;
};

// The little-endian word and the zero-terminated text at a place of a message.
uint32_t WordAt(const std::vector<uint8_t>& message, size_t offset);
std::string TextAt(const std::vector<uint8_t>& message, size_t offset);
