#include "platform/process.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <malloc.h>
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <mutex>

namespace platform {

std::string ModulePath(const void* addressInModule) {
  Dl_info info{};
  link_map* module = nullptr;
  if (dladdr1(addressInModule, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0) {
    return {};
  }
  // The main program's link map has an empty name; its path comes from /proc.
  if (module != nullptr && (module->l_name == nullptr || module->l_name[0] == '\0')) {
    return HostExecutablePath();
  }
  if (info.dli_fname == nullptr) return {};
  char* resolved = realpath(info.dli_fname, nullptr);
  if (resolved == nullptr) return info.dli_fname;
  std::string path = resolved;
  free(resolved);
  return path;
}

std::string HostExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ModuleVersion() { return TIDESYNC_VERSION; }

void TrimWorkingSet() { malloc_trim(0); }

namespace {

// One guarded call in progress on this thread; nested calls form a chain through `outer`.
struct GuardFrame {
  sigjmp_buf jump;
  GuardFrame* outer = nullptr;
  volatile uint32_t code = 0;
};

// Initial-exec: the handler must read it without any allocation by the TLS machinery.
[[gnu::tls_model("initial-exec")]] thread_local GuardFrame* t_guard = nullptr;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction g_previousActions[std::size(kFaultSignals)];
std::once_flag g_handlersInstalled;

uint32_t ExceptionCodeFor(int signalNumber) {
  switch (signalNumber) {
    case SIGSEGV:
      return kExceptionAccessViolation;
    case SIGBUS:
      return kExceptionInPageError;
    case SIGILL:
      return kExceptionIllegalInstruction;
    default:
      return kExceptionIntDivideByZero;
  }
}

// A fault that is not ours to handle takes the road it would have taken without us.
void ForwardToPreviousHandler(int signalNumber, siginfo_t* info, void* context) {
  size_t index = 0;
  while (kFaultSignals[index] != signalNumber) ++index;
  const struct sigaction& previous = g_previousActions[index];
  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    if (previous.sa_sigaction != nullptr) previous.sa_sigaction(signalNumber, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) {
    // The default action: it takes effect when the signal, pending now, is unblocked on return
    // (and a hardware fault would repeat anyway when the instruction runs again).
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(signalNumber, &defaultAction, nullptr);
    raise(signalNumber);
    return;
  }
  previous.sa_handler(signalNumber);
}

void OnFaultSignal(int signalNumber, siginfo_t* info, void* context) {
  GuardFrame* guard = t_guard;
  // Only the kernel's own reports (si_code > 0) are faults of this thread; a signal that
  // another thread or process sent is not.
  if (guard != nullptr && info != nullptr && info->si_code > 0) {
    guard->code = ExceptionCodeFor(signalNumber);
    siglongjmp(guard->jump, 1);
  }
  ForwardToPreviousHandler(signalNumber, info, context);
}

void InstallFaultHandlers() {
  struct sigaction action {};
  action.sa_sigaction = OnFaultSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kFaultSignals); ++i) {
    sigaction(kFaultSignals[i], &action, &g_previousActions[i]);
  }
}

// The alternate signal stack that lets a guarded call survive its own stack overflow. A thread
// that already has one (a sanitizer's, the host's) keeps it.
class AlternateSignalStack {
 public:
  void EnsureInstalled() {
    if (checked_) return;
    checked_ = true;
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    size_t size = std::max<size_t>(SIGSTKSZ, 64 * 1024);
    memory_ = std::malloc(size);
    if (memory_ == nullptr) return;
    stack_t mine{};
    mine.ss_sp = memory_;
    mine.ss_size = size;
    if (sigaltstack(&mine, nullptr) != 0) {
      std::free(memory_);
      memory_ = nullptr;
    }
  }

  ~AlternateSignalStack() {
    if (memory_ == nullptr) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory_) {
      stack_t disabled{};
      disabled.ss_flags = SS_DISABLE;
      sigaltstack(&disabled, nullptr);
    }
    std::free(memory_);
  }

 private:
  bool checked_ = false;
  void* memory_ = nullptr;
};

thread_local AlternateSignalStack t_alternateStack;

[[gnu::noinline]] uint32_t RunCatchingExceptions(const std::function<void()>& body,
                                                 GuardFrame* outer) {
  try {
    body();
  } catch (abi::__forced_unwind&) {
    // Thread cancellation must go on unwinding.
    t_guard = outer;
    throw;
  } catch (...) {
    return kExceptionCpp;
  }
  return 0;
}

}  // namespace

uint32_t GuardedCall(const std::function<void()>& body) {
  std::call_once(g_handlersInstalled, InstallFaultHandlers);
  t_alternateStack.EnsureInstalled();

  GuardFrame frame;
  frame.outer = t_guard;
  // sigsetjmp saves the signal mask, so the jump out of the handler unblocks the signal again.
  if (sigsetjmp(frame.jump, 1) != 0) {
    t_guard = frame.outer;
    return frame.code;
  }
  t_guard = &frame;
  uint32_t code = RunCatchingExceptions(body, frame.outer);
  t_guard = frame.outer;
  return code;
}

}  // namespace platform
