// The debug trace, the error store and the string table behind its messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>

#include "foundation/log/error_store.h"
#include "foundation/log/hx_trace.h"
#include "foundation/log/out_of_memory.h"
#include "foundation/strings/string_table.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

class FoundationLogTest : public ::testing::Test {
 protected:
  // The capture lets everything through; these tests start from the default masks.
  void SetUp() override {
    HxTrace::Instance().SetMasks(HxTrace::kDefaultMask, HxTrace::kDefaultMask);
  }

  std::string TraceSinceStart() const { return trace_.Text(); }

  static HxErr LastRecord() {
    HxErr record;
    EXPECT_TRUE(LastErrorRecord(record));
    return record;
  }

  // The start of every error report line of the calling thread.
  static std::string ReportPrefix() {
    char thread[16];
    std::snprintf(thread, sizeof thread, "[%x]", platform::CurrentThreadId());
    return std::string("): ") + thread + " ";
  }

  platform::testing::ScopedSandbox sandbox_;
  TraceCapture trace_;
};

TEST_F(FoundationLogTest, DefaultMasksPassOnlyLevelOneOfCategoryOneAndMasksCanBeChanged) {
  HxTrace& trace = HxTrace::Instance();
  trace.TraceL1(kTraceGeneral, "general %d", 1);
  trace.TraceL2(kTraceGeneral, "level two\n");
  trace.TraceL8(kTraceGeneral, "level eight\n");
  trace.TraceL1(kTraceFiles, "files\n");
  trace.TraceL1(kTraceRegistry, "registry\n");
  trace.TraceL1(kTraceGeneral | kTraceFiles, "shares a bit\n");

  // Changed masks: a category and a level must both match.
  trace.SetMasks(kTraceFiles | kTraceRegistry, kTraceLevel8);
  trace.TraceL8(kTraceRegistry, "verbose registry\n");
  trace.TraceL1(kTraceRegistry, "level one\n");
  trace.TraceL8(kTraceGeneral, "general\n");
  trace.SetMasks(0xFFFFFFFF, 0);
  trace.TraceL1(kTraceGeneral, "no level\n");
  EXPECT_EQ(TraceSinceStart(), "general 1\nshares a bit\nverbose registry\n");
}

TEST_F(FoundationLogTest, TraceLinesAreCutAndEndWithALineFeed) {
  HxTrace& trace = HxTrace::Instance();
  std::string longText(600, 'x');
  trace.TraceL1(kTraceGeneral, "%s", longText.c_str());
  std::string almostFull(HxTrace::kMaxLineLength - 1, 'y');
  trace.TraceL1(kTraceGeneral, "%s", almostFull.c_str());
  trace.TraceL1(kTraceGeneral, "inner\nline feed");
  trace.TraceL1(kTraceGeneral, "short");
  // The cut line has no room left for a line feed; the one just short of it gets one.
  EXPECT_EQ(TraceSinceStart(),
            std::string(511, 'x') + almostFull + "\n" + "inner\nline feed" + "short\n");
}

TEST_F(FoundationLogTest, OwnCodesFormatTheirTemplatesOthersGiveUnknownAndSocketErrorsTheirTexts) {
  size_t before = ErrorCount();
  RaiseError(0x2000006d, "/data/content/file.bin");
  RaiseError(0x20000002, "a.txt", "b.txt");
  EXPECT_EQ(ErrorCount(), before + 2);
  HxErr record = LastRecord();
  EXPECT_EQ(record.Code(), 0x20000002u);
  EXPECT_EQ(std::string(record.Message().c_str()), "Unable to copy file a.txt->b.txt\n");

  std::string trace = TraceSinceStart();
  std::string firstLine = trace.substr(0, trace.find('\n') + 1);
  EXPECT_EQ(firstLine.rfind("cross\\util\\rierror(", 0), 0u) << firstLine;
  EXPECT_NE(firstLine.find(ReportPrefix() +
                           "Error: Unable to write file: /data/content/file.bin (536871021)\n"),
            std::string::npos)
      << firstLine;

  RaiseError(0x20000999);
  EXPECT_EQ(LastRecord().Code(), 0x20000999u);
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), "unknown");
  // A system error number raised as if it were the system's own.
  RaiseError(5u);
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), "unknown");
  EXPECT_NE(TraceSinceStart().find("Error: unknown (536873369)\n"), std::string::npos);
  // Socket errors use their texts.
  RaiseError(10061u);
  EXPECT_EQ(std::string(LastRecord().Message().c_str()),
            "Socket Error: No connection could be made because the target machine actively "
            "refused it.");
  EXPECT_NE(TraceSinceStart().find(ReportPrefix() + "Socket Error: 10061 - No connection"),
            std::string::npos);
  RaiseError(10999u);  // in the socket range, without a text
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), "Socket Error: ");
}

TEST_F(FoundationLogTest, SystemErrorsUseTheSystemMessage) {
  std::string expected;
  ASSERT_TRUE(platform::SystemErrorMessage(platform::kErrorAccessDenied, expected));
  platform::SetLastError(platform::kErrorAccessDenied);
  RaiseLastError();
  EXPECT_EQ(LastRecord().Code(), 5u);
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), expected);
  EXPECT_NE(TraceSinceStart().find(ReportPrefix() + "Error: " + expected), std::string::npos);

  std::string none;
  ASSERT_FALSE(platform::SystemErrorMessage(98765, none));
  RaiseSystemError(98765);
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), "Unknown Error: 98765");
  // Network errors take the system's message too.
  ASSERT_FALSE(platform::SystemErrorMessage(2250, none));
  RaiseError(2250u, "ignored");
  EXPECT_EQ(std::string(LastRecord().Message().c_str()), "Unknown Error: 2250");
}

TEST_F(FoundationLogTest, FullThreadListDropsErrorsWhileOtherThreadsStillRecord) {
  std::latch filled(1);
  std::latch otherDone(1);
  size_t fillerCount = 0;
  size_t otherCount = 0;
  std::string lastFillerMessage;
  std::thread filler([&] {
    for (int i = 1; i <= 201; ++i) RaiseError(0x20000001, ("number " + std::to_string(i)).c_str());
    fillerCount = ErrorCount();
    HxErr record;
    LastErrorRecord(record);
    lastFillerMessage = record.Message().c_str();
    filled.count_down();
    otherDone.wait();  // stays alive so that the other thread cannot take over its id
  });
  filled.wait();
  std::thread other([&] {
    RaiseError(0x20000001, "other thread");
    otherCount = ErrorCount();
  });
  other.join();
  otherDone.count_down();
  filler.join();

  EXPECT_EQ(fillerCount, kMaxErrorRecords);
  EXPECT_EQ(lastFillerMessage, "File not found: number 200");
  EXPECT_EQ(otherCount, 1u);
  std::string trace = TraceSinceStart();
  EXPECT_NE(trace.find("File not found: number 200 ("), std::string::npos);
  EXPECT_EQ(trace.find("File not found: number 201 ("), std::string::npos);
  EXPECT_NE(trace.find("File not found: other thread ("), std::string::npos);
}

TEST_F(FoundationLogTest, SharedListIsApartFromTheThreadsAndAlsoLimited) {
  size_t threadBefore = ErrorCount();
  RaiseSharedError(0x2000008b, "connect failed");
  EXPECT_EQ(ErrorCount(), threadBefore);
  HxErr record;
  ASSERT_TRUE(LastSharedErrorRecord(record));
  EXPECT_EQ(std::string(record.Message().c_str()), "HttpObject error: connect failed");

  while (SharedErrorCount() < kMaxErrorRecords) RaiseSharedError(0x2000008b, "filling");
  RaiseSharedError(0x2000008b, "one too many");
  EXPECT_EQ(SharedErrorCount(), kMaxErrorRecords);
  EXPECT_EQ(TraceSinceStart().find("one too many"), std::string::npos);
}

void* volatile g_allocation = nullptr;

TEST(OutOfMemoryTest, ShowsTheBoxAndEndsWithExitCodeOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator reports a failed allocation itself";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InstallOutOfMemoryHandler();
        volatile size_t huge = SIZE_MAX / 2;
        g_allocation = ::operator new(huge);
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "\\[Memory Error\\] Out of memory\\.  Please close any additional applications and retry\\.");
}

TEST(StringTableTest, KnownAndUnknownNumbers) {
  std::string text = "untouched";
  EXPECT_FALSE(LoadModuleString(12345, text));
  EXPECT_EQ(text, "untouched");
  ASSERT_TRUE(LoadModuleString(kStringUnknownError, text));
  EXPECT_EQ(text, "Unknown Error: %ld");
  ASSERT_TRUE(LoadModuleString(OwnErrorTemplateId(0x2000006b), text));
  EXPECT_EQ(text, "Unknown protocol:  %s");
  for (uint32_t code : {10004u, 10013u, 10022u, 10035u, 10048u, 10049u, 10050u, 10051u, 10053u,
                        10054u, 10060u, 10061u, 10065u, 11001u}) {
    EXPECT_TRUE(LoadModuleString(code, text)) << code;
  }
}

}  // namespace
