// One whole system on this machine for one test, made of the built programs run as processes,
// the way people run them: a sandbox root, a publisher with its own certificate authority
// (`noltpub ca init`), the provider's program root that trusts it, nginx on loopback serving
// the publish folder (`noltpub sign` and `noltpub pack` put the manifest there), the values
// people store with `noltreg`, and the command agent `noltcmd`, run one sync cycle at a time.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "scoped_sandbox.h"
#include "tests/e2e/support/loopback_nginx.h"

namespace e2e {

inline constexpr const char* kProvider = "e2eprov";
inline constexpr const char* kUser = "e2euser";
// Where the server's files live, below the served folder and in its URLs.
inline constexpr const char* kServerFolder = "tidesync";

struct ToolResult {
  int exitCode = -1;
  std::string output;  // standard output and error
};

class SyncSystem {
 public:
  SyncSystem();
  ~SyncSystem();
  SyncSystem(const SyncSystem&) = delete;
  SyncSystem& operator=(const SyncSystem&) = delete;

  // Makes the program root with the publisher's root bundle as its credentials file, starts
  // nginx and stores the server for the user. False, with Failure() saying why, when any step
  // fails.
  bool Start();
  const std::string& Failure() const { return failure_; }

  const std::string& Root() const { return sandbox_.Root(); }
  // The agent's content directory (manifest.zip and manifest.xml) and temporary root.
  std::string ContentDirectory() const;
  std::string TempRoot() const;
  // A file below the server's folder: where it is served from, and its URL.
  std::string PublishedPath(const std::string& relative) const;
  std::string ServerUrl(const std::string& relative) const;

  // Signs `xml` as manifest.xml with the publisher's certificate (`signOptions` go to
  // `noltpub sign` as they are) and packs it as the server's data/manifest.zip, last written
  // later than anything published or downloaded before. With `tamper`, one byte of the signed
  // content is changed before packing.
  bool PublishManifest(const std::string& xml, const std::vector<std::string>& signOptions = {},
                       bool tamper = false);
  // Writes a file below the server's folder.
  bool PublishFile(const std::string& relative, const std::string& content);

  // The provider's key for the user (HKCU) or the machine (HKLM), with an optional subkey.
  static std::string UserKey(const std::string& subkey = "");
  static std::string MachineKey(const std::string& subkey = "");
  // `noltreg add KEY -v NAME -t TYPE -d DATA -f`.
  bool SetValue(const std::string& key, const std::string& name, const std::string& data,
                const std::string& type = "REG_SZ");

  // Runs one sync cycle of the command agent and returns once the agent waits again (its loop
  // logs the time to the next sync before each wait), with the lines written since the last
  // call in `cycleLog`. The first call starts the agent (with no
  // next sync time stored it syncs at once); each later one wakes it as the transfer service
  // does, through `noltcmd /bitsjobwakeup` and the loop's job event.
  bool RunCycle(std::string& cycleLog);
  // Asks the agent to end (SIGTERM); its exit status, or -1 when it did not end.
  int StopAgent();
  std::string AgentLog() const;

  // Runs the built program bin/`name` in the sandbox, without the environment's proxies.
  ToolResult RunTool(const std::string& name, const std::vector<std::string>& arguments);

  LoopbackNginx& Server() { return nginx_; }

 private:
  bool Fail(const std::string& why);
  bool RunStep(const std::string& name, const std::vector<std::string>& arguments);
  std::string AgentLogPath() const { return Root() + "/agent.log"; }

  platform::testing::ScopedSandbox sandbox_{kUser};
  LoopbackNginx nginx_;
  std::unique_ptr<platform::ChildProcess> agent_;
  std::string failure_;
  size_t cycles_ = 0;
  size_t cycleLogEnd_ = 0;  // where the last cycle's lines end in the agent's log
  int publications_ = 0;
  int toolRuns_ = 0;
  const std::filesystem::file_time_type started_ = std::filesystem::file_time_type::clock::now();
};

}  // namespace e2e
