// The context store (per-thread contexts, the primary thread, merging) and macro expansion.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "context_test_fixture.h"
#include "foundation/context/context_store.h"
#include "foundation/context/hx_macro.h"
#include "foundation/kv/hx_kv_file.h"
#include "platform/identity.h"

namespace {

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void OnOtherThread(Body body) {
  std::thread worker(body);
  worker.join();
}

using ContextStoreTest = ContextTest;

TEST_F(ContextStoreTest, NoContextReadsEmptyAndSetCreatesOneWithDefaults) {
  EXPECT_EQ(S(GetValue("SdcContext", "ProviderId")), "");
  ASSERT_TRUE(SetContextValue("DnaServer", "http:\\\\host\\"));
  EXPECT_EQ(S(GetContextValue("ProviderId")), "default");
  EXPECT_EQ(S(GetContextValue("dnaserver")), "http:\\\\host\\");
  ASSERT_TRUE(SetContextValue("DNASERVER", "other"));
  EXPECT_EQ(S(GetContextValue("DnaServer")), "other");
}

TEST_F(ContextStoreTest, SetValueNeverCreatesASection) {
  EXPECT_FALSE(SetValue("Paths", "DirLogs", "x"));
  EXPECT_EQ(S(GetValue("Paths", "DirLogs")), "");
}

TEST_F(ContextStoreTest, ThreadWithoutContextReadsThePrimaryThreads) {
  ASSERT_TRUE(SetContextValue("DnaServer", "primary"));
  std::string seen;
  OnOtherThread([&] { seen = S(GetContextValue("DnaServer")); });
  EXPECT_EQ(seen, "primary");
}

TEST_F(ContextStoreTest, ThreadThatSetsAValueGetsItsOwnContext) {
  ASSERT_TRUE(SetContextValue("DnaServer", "primary"));
  std::string ownServer;
  std::string ownProvider;
  OnOtherThread([&] {
    SetContextValue("Encoding", "utf8");
    ownServer = S(GetContextValue("DnaServer"));
    ownProvider = S(GetContextValue("ProviderId"));
  });
  EXPECT_EQ(ownServer, "");
  EXPECT_EQ(ownProvider, "default");
  EXPECT_EQ(S(GetContextValue("DnaServer")), "primary");
}

TEST_F(ContextStoreTest, DefaultsFilledOnReadGoIntoTheContextThatWasRead) {
  ASSERT_TRUE(SetContextValue("DnaServer", "primary"));
  std::string hive;
  std::string serverAfter;
  OnOtherThread([&] {
    hive = S(GetContextValue("HKCU"));
    serverAfter = S(GetContextValue("DnaServer"));  // still the primary's context
  });
  EXPECT_EQ(hive, "-2147483647");
  EXPECT_EQ(S(GetValue("SdcContext", "HKCU")), "-2147483647");
  EXPECT_EQ(serverAfter, "primary");
  EXPECT_EQ(S(GetContextValue("OSUserName")), "tester");
  EXPECT_EQ(S(GetContextValue("UserName")), "tester");
  EXPECT_EQ(ContextUserHive(), platform::kHkeyCurrentUser);
}

TEST_F(ContextStoreTest, EncodingValueReachesKeyValueFiles) {
  SetContextValue("Encoding", "mb");
  EXPECT_EQ(HxKvFile::RequestedEncoding(), HxTextEncoding::kAnsi);
  SetContextValue("Encoding", "utf8");
  EXPECT_EQ(HxKvFile::RequestedEncoding(), HxTextEncoding::kUtf8);
}

TEST_F(ContextStoreTest, MergeAddsReplacesOrMergesSections) {
  SetContextValue("Encoding", "utf8");
  HxKVListMap first;
  first.AddSection("General").Put("A", "1");
  first["General"].Put("B", "2");
  MergeContext(first, false, false);

  HxKVListMap second;
  second.AddSection("general").Put("A", "9");
  second["general"].Put("C", "3");
  MergeContext(second, false, false);
  EXPECT_EQ(S(GetValue("General", "A")), "1");
  EXPECT_EQ(S(GetValue("General", "C")), "3");

  MergeContext(second, true, false);
  EXPECT_EQ(S(GetValue("General", "A")), "9");
  EXPECT_EQ(S(GetValue("General", "B")), "2");

  MergeContext(second, false, true);
  EXPECT_EQ(S(GetValue("General", "A")), "9");
  EXPECT_EQ(S(GetValue("General", "B")), "");
  EXPECT_EQ(S(GetContextValue("ProviderId")), "default");
}

TEST(HxMacroTest, ExpandReplacesEveryTokenAndReverseTurnsValuesBack) {
  HxMacro macro;
  macro.Set("%SERVERROOT%", "http:\\\\srv\\");
  macro.Set("%MACHINE%", "box");
  HxStr out;
  EXPECT_TRUE(macro.Expand("%SERVERROOT%profiles\\%MACHINE%\\%MACHINE%", out));
  EXPECT_EQ(std::string(out.c_str()), "http:\\\\srv\\profiles\\box\\box");

  HxStr back;
  EXPECT_TRUE(macro.Expand(out, back, true));
  EXPECT_EQ(std::string(back.c_str()), "%SERVERROOT%profiles\\%MACHINE%\\%MACHINE%");
}

TEST(HxMacroTest, ExpandIsCaseSensitiveAndReportsWhetherAnythingChanged) {
  HxMacro macro;
  macro.Set("%A%", "x%A%x");  // a value holding its own token is not expanded again
  HxStr out;
  EXPECT_FALSE(macro.Expand("%a% stays", out));
  EXPECT_EQ(std::string(out.c_str()), "%a% stays");
  EXPECT_TRUE(macro.Expand("%A%%A%", out));
  EXPECT_EQ(std::string(out.c_str()), "x%A%xx%A%x");
}

TEST_F(ContextStoreTest, MacroMachineAddsMachineUserAndPaths) {
  SetContextValue("UserName", "alice");
  HxMacroMachine macro;
  macro.Set("%USERNAME%", "kept");
  macro.SetMachineAndUser("", "bob");
  HxStr value;
  ASSERT_TRUE(macro.Get("%MACHINE%", value));
  EXPECT_EQ(S(value), platform::ComputerName());
  ASSERT_TRUE(macro.Get("%USERNAME%", value));
  EXPECT_EQ(S(value), "kept");

  HxMacroMachine fromContext;
  fromContext.SetMachineAndUser("pc", "");
  ASSERT_TRUE(fromContext.Get("%USERNAME%", value));
  EXPECT_EQ(S(value), "alice");

  EXPECT_TRUE(macro.AddPathMacro("%BIN%", "/opt/tool/bin/run.sh"));
  ASSERT_TRUE(macro.Get("%BIN%", value));
  EXPECT_EQ(S(value), "/opt/tool/bin\\");
  EXPECT_TRUE(macro.AddPathMacro("%DATA%", "C:\\data\\file.txt"));
  ASSERT_TRUE(macro.Get("%DATA%", value));
  EXPECT_EQ(S(value), "C:\\data\\");
  EXPECT_FALSE(macro.AddPathMacro("%NONE%", "file.txt"));
}

}  // namespace
