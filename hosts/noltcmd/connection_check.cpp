#include "hosts/noltcmd/connection_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "foundation/context/context_store.h"
#include "foundation/log/error_store.h"
#include "foundation/log/host_logger.h"
#include "foundation/strings/url_credentials.h"
#include "foundation/transfer/hx_remote_object.h"
#include "hosts/common/host_log.h"
#include "hosts/common/host_runner.h"
#include "hosts/noltcmd/noltcmd_options.h"
#include "net/http/http_transfer.h"
#include "net/http/hx_http_object.h"
#include "platform/termination.h"

namespace {

enum class CheckKind { Get, GetIfNewer, Head, Post };

struct CheckCommand {
  const char* flag;
  CheckKind kind;
  size_t operands;     // positional arguments after the flag
  size_t urlOperand;   // which of them is the URL
};

constexpr CheckCommand kCommands[] = {
    {"--get", CheckKind::Get, 2, 0},
    {"--get-if-newer", CheckKind::GetIfNewer, 2, 0},
    {"--head", CheckKind::Head, 1, 0},
    {"--post", CheckKind::Post, 2, 1},
};

const CheckCommand* FindCommand(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return nullptr;
  for (const CheckCommand& command : kCommands) {
    if (arguments[0] == command.flag) return &command;
  }
  return nullptr;
}

// The error counts before the transfer, so that only what it recorded is reported.
struct ErrorMark {
  size_t shared = SharedErrorCount();
  size_t thread = ErrorCount();
};

// The transfer object's failures go to the shared list; the factory's and the file layer's to
// the thread's. The newest of what the check added is printed, the shared list first, without
// the password of a location.
void PrintRecordedError(const ErrorMark& mark) {
  HxErr record;
  if ((SharedErrorCount() > mark.shared && LastSharedErrorRecord(record)) ||
      (ErrorCount() > mark.thread && LastErrorRecord(record))) {
    std::fprintf(stderr, "%s\n", MaskUrlCredentials(record.Message()).c_str());
  } else {
    std::fputs("no error was recorded\n", stderr);
  }
}

// A termination request (SIGINT or SIGTERM) cancels the running transfer, which then removes
// its temporary file. Shared with the thread that receives the requests, which outlives the check.
struct TerminationState {
  std::mutex mutex;
  bool requested = false;
  HxRemoteObjectPtr object;

  void Request() {
    std::lock_guard<std::mutex> lock(mutex);
    requested = true;
    if (object) object->Cancel();
  }
  // Watches `transfer`; false when a request came already (the transfer must not start).
  bool Watch(const HxRemoteObjectPtr& transfer) {
    std::lock_guard<std::mutex> lock(mutex);
    object = transfer;
    return !requested;
  }
  bool Requested() {
    std::lock_guard<std::mutex> lock(mutex);
    return requested;
  }
};

// The same setup a run has before its first transfer: the log, the logger the layers below
// write to, and the provider's and user's context (the per-user store holds the proxy
// settings). The sandbox root comes from NOLT_ROOT as for a run.
bool PrepareLikeARun(const HostOptions& options) {
  if (!OpenHostLog(options.logPath, options.quiet, options.logMode, options.logGroup)) {
    std::fprintf(stderr, "noltcmd: cannot open log %s\n", options.logPath.c_str());
    return false;
  }
  SetHostLogger(&HostLoggerCallback);
  if (!LoadContext(options.providers.front(), "", options.userId, true)) {
    std::fprintf(stderr, "noltcmd: cannot load the context of provider '%s'\n",
                 options.providers.front().c_str());
    return false;
  }
  RegisterHttpTransferObjects();
  return true;
}

// Runs the transfer; true on success. `line` receives what --get-if-newer adds to the report.
bool Transfer(CheckKind kind, HxRemoteObject& object, const std::vector<std::string>& operands,
              std::string& line) {
  switch (kind) {
    case CheckKind::Get:
      return object.GetFile(HxStr(operands[1]));
    case CheckKind::GetIfNewer: {
      const int result = object.GetFileIfNewer(HxStr(operands[1]));
      if (result == 1) {
        line = "Downloaded: " + MaskUrlCredentials(operands[0]) + " -> " + operands[1];
      }
      if (result == 2) line = "Target is current, not downloaded: " + operands[1];
      return result != 0;
    }
    case CheckKind::Head:
      return object.Exists();
    case CheckKind::Post:
      return object.UploadFilePost(HxStr(operands[0]));
  }
  return false;
}

}  // namespace

bool IsConnectionCheck(const std::vector<std::string>& arguments) {
  return FindCommand(arguments) != nullptr;
}

int RunConnectionCheck(const std::vector<std::string>& arguments, const char* usage) {
  const CheckCommand* command = FindCommand(arguments);
  if (command == nullptr || arguments.size() < 1 + command->operands) {
    std::fprintf(stderr, "noltcmd: missing arguments for %s\n%s",
                 command != nullptr ? command->flag : "the connection check", usage);
    return 1;
  }
  const std::vector<std::string> operands(arguments.begin() + 1,
                                          arguments.begin() + 1 + command->operands);
  std::vector<std::string> hostArguments(arguments.begin() + 1 + command->operands,
                                         arguments.end());
  // Without --provider the context picks its default provider.
  if (std::find(hostArguments.begin(), hostArguments.end(), "--provider") == hostArguments.end()) {
    hostArguments.insert(hostArguments.end(), {"--provider", ""});
  }
  HostOptions options;
  if (!ReadNoltcmdOptions(hostArguments, usage, options)) return 1;
  // Before any thread starts, so that every thread leaves the requests to the handler.
  auto termination = std::make_shared<TerminationState>();
  platform::HandleTerminationRequests([termination] { termination->Request(); });
  if (!PrepareLikeARun(options)) return 1;

  const ErrorMark mark;
  HxRemoteObjectPtr object = CreateRemoteObject(operands[command->urlOperand]);
  std::string line;
  const bool ok = object != nullptr && termination->Watch(object) &&
                  Transfer(command->kind, *object, operands, line);
  std::printf("HTTP return code: %d\n", object != nullptr ? object->GetStatus() : 0);
  if (!line.empty()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!ok) {
    PrintRecordedError(mark);
    const std::string cause = object != nullptr ? HttpFailureCause(*object) : std::string();
    if (!cause.empty()) {
      std::fprintf(stderr, "noltcmd: %s failed: %s\n", command->flag,
                   MaskUrlCredentials(cause).c_str());
    }
    if (termination->Requested()) std::fputs("noltcmd: stopped by a termination request\n", stderr);
  }
  termination->Watch(nullptr);  // the request thread lets go of the object
  CloseHostLog();
  return ok ? 0 : 1;
}
