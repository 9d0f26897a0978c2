#include "tests/e2e/support/sync_system.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "build_tree_files.h"

namespace e2e {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kToolGuardMs = 60000;  // failure guards, never pauses
constexpr auto kCycleGuard = std::chrono::seconds(60);
constexpr auto kLookAgain = std::chrono::milliseconds(10);
// The line the scheduled loop writes before each wait: once at its start, then after each
// cycle, whatever the cycle did to the schedule.
constexpr const char* kLoopWaits = "Next Sync time in ";
constexpr const char* kProviderList = "SOFTWARE\\Strovane\\ProviderList\\";

// The agent reaches the loopback server directly, whatever the environment says.
const std::vector<std::pair<std::string, std::string>> kNoProxies = {
    {"http_proxy", ""},  {"https_proxy", ""}, {"all_proxy", ""}, {"no_proxy", ""},
    {"HTTP_PROXY", ""},  {"HTTPS_PROXY", ""}, {"ALL_PROXY", ""}, {"NO_PROXY", ""}};

// The publisher's certificate authority, made once per process (its keys take a while).
class Publisher {
 public:
  static const Publisher& Shared(SyncSystem& system) {
    static Publisher publisher(system);
    return publisher;
  }
  ~Publisher() {
    std::error_code ignored;
    if (!directory_.empty()) fs::remove_all(directory_, ignored);
  }
  bool Made() const { return made_; }
  std::string File(const char* name) const { return directory_ + "/ca/" + name; }

 private:
  explicit Publisher(SyncSystem& system) {
    std::string pattern = (fs::temp_directory_path() / "tidesync-publisher-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    directory_ = pattern;
    made_ = system.RunTool("noltpub", {"ca", "init", File("")}).exitCode == 0;
  }
  std::string directory_;
  bool made_ = false;
};

bool WriteAll(const std::string& path, const std::string& content) {
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

// Where the `n`th line (from 1) that holds `what` ends, past its line feed; npos before then.
size_t EndOfNthLine(const std::string& text, const std::string& what, size_t n) {
  size_t at = std::string::npos;
  for (size_t found = 0; found < n; ++found) {
    at = text.find(what, at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) return at;
  }
  const size_t end = text.find('\n', at);
  return end == std::string::npos ? end : end + 1;
}

// Changes the case of one letter of the content after a signed file's header.
bool Tamper(std::string& signedText) {
  const size_t header = signedText.find("\n\n");
  for (size_t i = header == std::string::npos ? signedText.size() : header + 2;
       i < signedText.size(); ++i) {
    if (std::isalpha(static_cast<unsigned char>(signedText[i])) != 0) {
      signedText[i] = static_cast<char>(signedText[i] ^ 0x20);
      return true;
    }
  }
  return false;
}

}  // namespace

SyncSystem::SyncSystem() = default;

SyncSystem::~SyncSystem() { StopAgent(); }

bool SyncSystem::Fail(const std::string& why) {
  failure_ += why + "\n";
  return false;
}

std::string SyncSystem::ContentDirectory() const {
  return Root() + "/users/" + kUser + "/local/Strovane/" + kProvider + "/" + kUser + "/data";
}

std::string SyncSystem::TempRoot() const { return Root() + "/tmp"; }

std::string SyncSystem::PublishedPath(const std::string& relative) const {
  return Root() + "/www/" + kServerFolder + "/" + relative;
}

std::string SyncSystem::ServerUrl(const std::string& relative) const {
  return nginx_.Url(std::string("/") + kServerFolder + "/" + relative);
}

std::string SyncSystem::UserKey(const std::string& subkey) {
  return std::string("HKCU\\") + kProviderList + kProvider + "\\users\\" + kUser +
         (subkey.empty() ? "" : "\\" + subkey);
}

std::string SyncSystem::MachineKey(const std::string& subkey) {
  return std::string("HKLM\\") + kProviderList + kProvider + (subkey.empty() ? "" : "\\" + subkey);
}

ToolResult SyncSystem::RunTool(const std::string& name,
                               const std::vector<std::string>& arguments) {
  const std::string output = Root() + "/tool-" + std::to_string(++toolRuns_) + ".out";
  std::vector<std::string> command{BuildPath("bin/" + name)};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ToolResult result;
  platform::ChildProcess tool;
  if (tool.Start(command, kNoProxies, output)) result.exitCode = tool.Wait(kToolGuardMs);
  result.output = ReadFile(output);
  std::error_code ignored;
  fs::remove(output, ignored);
  return result;
}

bool SyncSystem::RunStep(const std::string& name, const std::vector<std::string>& arguments) {
  const ToolResult result = RunTool(name, arguments);
  if (result.exitCode == 0) return true;
  std::string command = name;
  for (const std::string& argument : arguments) command += " " + argument;
  return Fail(command + " exited with " + std::to_string(result.exitCode) + ": " + result.output);
}

bool SyncSystem::SetValue(const std::string& key, const std::string& name,
                          const std::string& data, const std::string& type) {
  return RunStep("noltreg", {"add", key, "-v", name, "-t", type, "-d", data, "-f"});
}

bool SyncSystem::Start() {
  const Publisher& publisher = Publisher::Shared(*this);
  if (!publisher.Made()) return Fail("noltpub ca init failed");
  // The program root sits in the sandbox's program files; its Credentials folder holds the
  // bundle the agent trusts.
  const std::string programRoot = Root() + "/machine/opt/tidesync";
  std::error_code error;
  fs::create_directories(programRoot + "/Credentials", error);
  fs::copy_file(publisher.File("pki_cacert.p7b"), programRoot + "/Credentials/pki_cacert.p7b",
                error);
  if (error) return Fail("cannot place the credentials file: " + error.message());
  if (!SetValue(MachineKey("InstallPaths"), "ProgramRoot", programRoot)) return false;

  fs::create_directories(PublishedPath("data"), error);
  if (!nginx_.Start(Root() + "/www", Root() + "/nginx", true)) return Fail("nginx did not start");
  return SetValue(UserKey(), kProvider, ServerUrl(""));
}

bool SyncSystem::PublishManifest(const std::string& xml,
                                 const std::vector<std::string>& signOptions, bool tamper) {
  const Publisher& publisher = Publisher::Shared(*this);
  const std::string work = Root() + "/publishing";
  const std::string plain = work + "/plain.xml";
  const std::string signedFile = work + "/manifest.xml";
  if (!WriteAll(plain, xml)) return Fail("cannot write " + plain);
  std::vector<std::string> sign{"sign", "--cert", publisher.File("signing.pem"), "--key",
                                publisher.File("signing.key")};
  sign.insert(sign.end(), signOptions.begin(), signOptions.end());
  sign.insert(sign.end(), {plain, signedFile});
  if (!RunStep("noltpub", sign)) return false;
  if (tamper) {
    std::string text = ReadFile(signedFile);
    if (!Tamper(text) || !WriteAll(signedFile, text)) return Fail("cannot tamper " + signedFile);
  }
  const std::string archive = PublishedPath("data/manifest.zip");
  if (!RunStep("noltpub", {"pack", archive, signedFile})) return false;
  // The first publication lies an hour back, so that an archive downloaded now is not older;
  // each later one lies beyond every time an earlier download could carry.
  std::error_code error;
  fs::last_write_time(archive,
                      started_ - std::chrono::hours(1) + std::chrono::hours(2) * publications_++,
                      error);
  return !error || Fail("cannot date " + archive + ": " + error.message());
}

bool SyncSystem::PublishFile(const std::string& relative, const std::string& content) {
  return WriteAll(PublishedPath(relative), content) || Fail("cannot publish " + relative);
}

bool SyncSystem::RunCycle(std::string& cycleLog) {
  cycleLog.clear();
  if (agent_ == nullptr) {
    agent_ = std::make_unique<platform::ChildProcess>();
    if (!agent_->Start({BuildPath("bin/noltcmd"), "--provider", kProvider, "--log",
                        AgentLogPath()},
                       kNoProxies, Root() + "/agent.out")) {
      return Fail("noltcmd did not start");
    }
  } else {
    const std::string jobEvent = std::string("BITS_JOB_EVENT_") + kProvider + "_" + kUser;
    if (!RunStep("noltcmd", {"/bitsjobwakeup", jobEvent, "{e2e}"})) return false;
  }
  // The agent appends to its log; look again until it waits once more.
  const auto deadline = std::chrono::steady_clock::now() + kCycleGuard;
  for (;;) {
    const std::string log = AgentLog();
    const size_t end = EndOfNthLine(log, kLoopWaits, cycles_ + 2);
    if (end != std::string::npos) {
      cycleLog = log.substr(cycleLogEnd_, end - cycleLogEnd_);
      cycleLogEnd_ = end;
      ++cycles_;
      return true;
    }
    if (agent_->Wait(0) >= 0) return Fail("noltcmd ended during a cycle: " + log);
    if (std::chrono::steady_clock::now() >= deadline) {
      return Fail("no end of cycle " + std::to_string(cycles_ + 1) + " in the log: " + log);
    }
    std::this_thread::sleep_for(kLookAgain);
  }
}

int SyncSystem::StopAgent() {
  if (agent_ == nullptr) return -1;
  agent_->RequestTermination();
  const int status = agent_->Wait(kToolGuardMs);
  agent_.reset();
  return status;
}

std::string SyncSystem::AgentLog() const { return ReadFile(AgentLogPath()); }

}  // namespace e2e
