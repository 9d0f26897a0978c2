#include "locks_peer_process.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sync_test_support.h"

namespace locks_testing {

LocksPeer::LocksPeer(const std::string& mode, const std::string& name, const std::string& tag,
                     const std::string& ns, bool asOtherAccount) {
  const std::string prefix = ns.empty() ? "" : ns + "\\";
  const platform::ObjectAccess access =
      asOtherAccount ? platform::ObjectAccess::Everyone : platform::ObjectAccess::Owner;
  inside_ = platform::Event::Create(prefix + "LOCKS_PEER_IN_" + tag, true, false, access);
  leave_ = platform::Event::Create(prefix + "LOCKS_PEER_OUT_" + tag, true, false, access);
  if (!inside_ || !leave_) return;
  std::vector<std::string> command{LOCKS_PEER_PATH, mode, name, tag};
  if (!ns.empty()) command.push_back(ns);
  started_ = child_.Start(asOtherAccount ? AsOtherAccount(command) : command);
}

LocksPeer::~LocksPeer() {
  if (started_ && Finish() < 0) child_.Kill();
}

bool LocksPeer::WaitInside() {
  return started_ && platform::WaitForOne(*inside_, kFailureGuardMs) == platform::kWaitObject0;
}

bool LocksPeer::IsInside() {
  return started_ && platform::WaitForOne(*inside_, 0) == platform::kWaitObject0;
}

bool LocksPeer::Blocked() const {
  return started_ && platform::testing::WaitUntilBlockedInPoll(child_.ProcessId(),
                                                               child_.ProcessId());
}

int LocksPeer::Finish() {
  if (!started_) return -1;
  leave_->Set();
  return child_.Wait(kFailureGuardMs);
}

void LocksPeer::Kill() {
  if (started_ && child_.Kill()) child_.Wait(kFailureGuardMs);
}

std::vector<std::string> AsOtherAccount(std::vector<std::string> command) {
  const std::string id = std::to_string(kOtherAccountUid);
  command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id,
                                   "--clear-groups"});
  return command;
}

bool RunningAsRoot() {
  // "Uid:" lists the real, effective, saved and file-system uids.
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Uid:", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    int real = -1;
    int effective = -1;
    return fields >> real >> effective && effective == 0;
  }
  return false;
}

bool OpenSandboxToEveryAccount(const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::permissions(root,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  error);
  return !error;
}

}  // namespace locks_testing
