// The guarded call, module paths and the debug sinks.
#include "build_tree_files.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "scoped_sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::GuardedCall;

// Each test in a fresh sandbox root.
class PlatformProcessTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
  fs::path root_ = sandbox_.Root();
};

// The faults are produced for real; the sanitizers must not report them first.
#define NO_SANITIZE [[gnu::noinline, gnu::no_sanitize("address", "undefined")]]

NO_SANITIZE void WriteToBadAddress() {
  int* volatile address = reinterpret_cast<int*>(16);
  *address = 1;
}

NO_SANITIZE void DivideByZero() {
  volatile int numerator = 7;
  volatile int zero = 0;
  volatile int result = numerator / zero;
  (void)result;
}

NO_SANITIZE void ExecuteIllegalInstruction() { __builtin_trap(); }

// Reading a mapped page beyond the end of its file is a bus error.
NO_SANITIZE void ReadPastMappedFile(const fs::path& directory) {
  std::string path = (directory / "empty.bin").string();
  int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(descriptor, 0);
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, descriptor, 0);
  close(descriptor);
  ASSERT_NE(page, MAP_FAILED);
  uint32_t code = GuardedCall([page] {
    volatile char value = *static_cast<volatile char*>(page);
    (void)value;
  });
  munmap(page, 4096);
  EXPECT_EQ(code, platform::kExceptionInPageError);
}

volatile bool g_recurse = true;

NO_SANITIZE int RecurseUntilTheStackEnds(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return g_recurse ? RecurseUntilTheStackEnds(depth + 1) + frame[0] : 0;
}

TEST_F(PlatformProcessTest,
       EachFaultKindGivesItsCodeRepeatedlyAndNestedGuardsEndOnlyTheInnermostCall) {
  EXPECT_EQ(GuardedCall(WriteToBadAddress), platform::kExceptionAccessViolation);
  EXPECT_EQ(GuardedCall(DivideByZero), platform::kExceptionIntDivideByZero);
  EXPECT_EQ(GuardedCall(ExecuteIllegalInstruction), platform::kExceptionIllegalInstruction);
  ReadPastMappedFile(root_);
  // The stack overflow is handled on the alternate signal stack.
  EXPECT_EQ(GuardedCall([] { RecurseUntilTheStackEnds(0); }), platform::kExceptionAccessViolation);
  EXPECT_EQ(GuardedCall([] { throw std::runtime_error("x"); }), platform::kExceptionCpp);
  EXPECT_EQ(GuardedCall([] { throw 42; }), platform::kExceptionCpp);
  int runs = 0;
  EXPECT_EQ(GuardedCall([&runs] { ++runs; }), 0u);
  EXPECT_EQ(runs, 1);

  // The jump out of the handler must unblock the signal, or the second fault would kill us.
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(GuardedCall(WriteToBadAddress), platform::kExceptionAccessViolation) << i;
    ASSERT_EQ(GuardedCall(DivideByZero), platform::kExceptionIntDivideByZero) << i;
  }

  std::vector<uint32_t> innerCodes;
  bool outerContinued = false;
  uint32_t outer = GuardedCall([&] {
    innerCodes.push_back(GuardedCall(WriteToBadAddress));
    innerCodes.push_back(GuardedCall([] { throw 1; }));
    innerCodes.push_back(GuardedCall([] { GuardedCall(DivideByZero); }));
    outerContinued = true;
  });
  EXPECT_EQ(outer, 0u);
  EXPECT_TRUE(outerContinued);
  EXPECT_EQ(innerCodes, (std::vector<uint32_t>{platform::kExceptionAccessViolation,
                                               platform::kExceptionCpp, 0u}));

  // After the inner call returned, a fault belongs to the outer one again.
  uint32_t innerCode = 1;
  uint32_t outerCode = GuardedCall([&innerCode] {
    innerCode = GuardedCall([] {});
    ExecuteIllegalInstruction();
  });
  EXPECT_EQ(innerCode, 0u);
  EXPECT_EQ(outerCode, platform::kExceptionIllegalInstruction);
}

TEST_F(PlatformProcessTest, TwoThreadsFaultInsideGuardsAtOnce) {
  constexpr int kRounds = 200;
  std::barrier start(2);
  std::vector<uint32_t> segvCodes(kRounds);
  std::vector<uint32_t> fpeCodes(kRounds);
  auto run = [&start](std::vector<uint32_t>& codes, void (*fault)()) {
    start.arrive_and_wait();
    for (uint32_t& code : codes) code = GuardedCall(fault);
  };
  std::thread segv(run, std::ref(segvCodes), WriteToBadAddress);
  std::thread fpe(run, std::ref(fpeCodes), DivideByZero);
  segv.join();
  fpe.join();
  // A fault reported to the other thread's guard would show up as the wrong code here.
  EXPECT_EQ(segvCodes, std::vector<uint32_t>(kRounds, platform::kExceptionAccessViolation));
  EXPECT_EQ(fpeCodes, std::vector<uint32_t>(kRounds, platform::kExceptionIntDivideByZero));
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
  // A guard on this thread does not cover a fault on another one.
  EXPECT_EXIT(
      {
        GuardedCall([] {
          std::thread other(DivideByZero);
          other.join();
        });
        std::exit(0);
      },
      DiedOfTheFault, "");
}

TEST_F(PlatformProcessTest, ModuleAndExecutablePathsAndVersion) {
  std::string executable = platform::HostExecutablePath();
  ASSERT_FALSE(executable.empty());
  EXPECT_TRUE(fs::equivalent(executable, "/proc/self/exe"));
  // An address of this program names the executable; one of the platform, its library.
  EXPECT_EQ(platform::ModulePath(reinterpret_cast<const void*>(&WriteToBadAddress)), executable);
  std::string library = platform::ModulePath(reinterpret_cast<const void*>(&GuardedCall));
  EXPECT_EQ(fs::path(library).filename(), "libnoltplatform.so");
  EXPECT_TRUE(fs::path(library).is_absolute());
  EXPECT_TRUE(platform::ModulePath(nullptr).empty());
  // The module version has four numbers.
  std::string version = platform::ModuleVersion();
  std::istringstream parts(version);
  int numbers = 0;
  for (std::string part; std::getline(parts, part, '.'); ++numbers) {
    EXPECT_FALSE(part.empty()) << version;
    EXPECT_EQ(part.find_first_not_of("0123456789"), std::string::npos) << version;
  }
  EXPECT_EQ(numbers, 4) << version;
}

// NOLT_TRACE is read once per process, so each choice of sink is tried in a child process.
class DebugSinkTest : public PlatformProcessTest {
 protected:
  void SetUp() override {
    PlatformProcessTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(DebugSinkTest, FileSinkIsAppendedTo) {
  // The child makes a sandbox of its own, so it checks the file itself and says so by its status.
  EXPECT_EXIT(
      {
        fs::path trace = root_ / "trace.log";
        std::ofstream(trace) << "earlier\n";
        setenv("NOLT_TRACE", trace.c_str(), 1);
        platform::OutputDebugText("first line\n");
        platform::OutputDebugText("second");
        int answer = platform::ShowMessageBox("Memory Error", "Out of memory.");
        std::string written = ReadFile(trace);
        std::fprintf(stderr, "answer %d, file: %s", answer, written.c_str());
        bool expected = answer == platform::kMessageBoxOk &&
                        written == "earlier\nfirst line\nsecond[Memory Error] Out of memory.\n";
        std::exit(expected ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "^\\[Memory Error\\] Out of memory\\.\nanswer 1");
}

TEST_F(DebugSinkTest, StderrSinkAndNoSink) {
  EXPECT_EXIT(
      {
        setenv("NOLT_TRACE", "stderr", 1);
        platform::OutputDebugText("to the standard error\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "to the standard error");
  EXPECT_EXIT(
      {
        unsetenv("NOLT_TRACE");
        platform::OutputDebugText("dropped text\n");
        platform::ShowMessageBox("Caption", "shown text");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^\\[Caption\\] shown text\n$");
}

}  // namespace
