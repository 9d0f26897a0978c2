// The guarded call, module paths and the debug sinks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "build_tree_files.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::GuardedCall;

class PlatformProcessTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

// The faults are produced for real; the sanitizers must not report them first.
#define NO_SANITIZE [[gnu::noinline, gnu::no_sanitize("address", "undefined")]]

NO_SANITIZE void WriteToBadAddress() {
  int* volatile address = reinterpret_cast<int*>(16);
  *address = 1;
}

NO_SANITIZE void DivideByZero() {
  volatile int zero = 0;
  volatile int result = 7 / zero;
  (void)result;
}

NO_SANITIZE void ExecuteIllegalInstruction() { __builtin_trap(); }

volatile bool g_recurse = true;

NO_SANITIZE int RecurseUntilTheStackEnds(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return g_recurse ? RecurseUntilTheStackEnds(depth + 1) + frame[0] : 0;
}

void* g_pastTheFile = nullptr;  // a mapped page beyond the end of its (empty) file

NO_SANITIZE void ReadPastMappedFile() { (void)*static_cast<volatile char*>(g_pastTheFile); }

// Two threads run the table at once: a fault reported to the other thread's guard, or a signal
// left blocked after the jump out of the handler, would show up as a wrong code.
TEST_F(PlatformProcessTest,
       EachFaultKindGivesItsCodeEveryTimeOnTwoThreadsAndNestedGuardsEndOnlyTheInner) {
  int descriptor =
      open((sandbox_.Root() + "/empty.bin").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  g_pastTheFile = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, descriptor, 0);
  close(descriptor);
  ASSERT_NE(g_pastTheFile, MAP_FAILED);
  const std::pair<void (*)(), uint32_t> table[] = {
      {WriteToBadAddress, platform::kExceptionAccessViolation},
      {DivideByZero, platform::kExceptionIntDivideByZero},
      {ExecuteIllegalInstruction, platform::kExceptionIllegalInstruction},
      {ReadPastMappedFile, platform::kExceptionInPageError},
      {[] { RecurseUntilTheStackEnds(0); }, platform::kExceptionAccessViolation},  // alt stack
      {[] { throw std::runtime_error("x"); }, platform::kExceptionCpp},
      {[] { throw 42; }, platform::kExceptionCpp},
      {[] {}, 0u}};
  std::barrier start(2);
  std::vector<std::string> wrong[2];
  auto run = [&](int thread) {
    start.arrive_and_wait();
    for (int round = 0; round < 50; ++round) {
      for (size_t i = 0; i < std::size(table); ++i) {
        size_t entry = (i + static_cast<size_t>(thread) * 3) % std::size(table);  // out of step
        if (GuardedCall(table[entry].first) != table[entry].second) {
          wrong[thread].push_back(std::to_string(entry) + "@" + std::to_string(round));
        }
      }
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  munmap(g_pastTheFile, 4096);
  EXPECT_EQ(wrong[0], std::vector<std::string>{});
  EXPECT_EQ(wrong[1], std::vector<std::string>{});

  std::vector<uint32_t> codes;
  uint32_t outer = GuardedCall([&] {
    codes.push_back(GuardedCall(WriteToBadAddress));
    codes.push_back(GuardedCall([] { GuardedCall(DivideByZero); }));
    codes.push_back(GuardedCall([] {}));
    ExecuteIllegalInstruction();  // after the inner calls returned, the fault is the outer's
  });
  EXPECT_EQ(outer, platform::kExceptionIllegalInstruction);
  EXPECT_EQ(codes, (std::vector<uint32_t>{platform::kExceptionAccessViolation, 0u, 0u}));
}

// A crash reported by the default action or by a sanitizer's handler: anything but a clean exit.
bool DiedOfTheFault(int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }

TEST_F(PlatformProcessTest, FaultOutsideAnyGuardOrOnAnotherThreadStillKillsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        GuardedCall([] {});  // the handlers are installed now
        WriteToBadAddress();
        std::exit(0);
      },
      DiedOfTheFault, "");
  EXPECT_EXIT(
      {
        GuardedCall([] { std::thread(DivideByZero).join(); });
        std::exit(0);
      },
      DiedOfTheFault, "");
}

TEST_F(PlatformProcessTest, ModuleAndExecutablePathsAndVersion) {
  std::string executable = platform::HostExecutablePath();
  EXPECT_TRUE(fs::equivalent(executable, "/proc/self/exe"));
  EXPECT_EQ(platform::ModulePath(reinterpret_cast<const void*>(&WriteToBadAddress)), executable);
  std::string library = platform::ModulePath(reinterpret_cast<const void*>(&GuardedCall));
  EXPECT_EQ(fs::path(library).filename(), "libnoltplatform.so");
  EXPECT_TRUE(fs::path(library).is_absolute());
  EXPECT_TRUE(platform::ModulePath(nullptr).empty());
  EXPECT_TRUE(std::regex_match(platform::ModuleVersion(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
}

// NOLT_TRACE is read once per process, so each choice of sink is tried in a child process,
// which checks the trace file itself and says so by its exit status.
TEST_F(PlatformProcessTest, DebugTextGoesToTheChosenSinkAndMessageBoxesAlsoToStandardError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string file = sandbox_.Root() + "/trace.log";
  const struct {
    const char* sink;
    const char* standardError;  // a regular expression
    const char* fileText;
  } cases[] = {
      {"file", "^\\[Caption\\] shown\n$", "earlier\nfirst\nsecond[Caption] shown\n"},
      {"stderr", "^first\nsecond\\[Caption\\] shown\n$", "earlier\n"},
      {"", "^\\[Caption\\] shown\n$", "earlier\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          std::ofstream(file) << "earlier\n";
          setenv("NOLT_TRACE", std::string(c.sink) == "file" ? file.c_str() : c.sink, 1);
          platform::OutputDebugText("first\n");
          platform::OutputDebugText("second");
          int answer = platform::ShowMessageBox("Caption", "shown");
          std::exit(answer == platform::kMessageBoxOk && ReadFile(file) == c.fileText ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), c.standardError)
        << c.sink;
  }
}

}  // namespace
