// The context store (per-thread contexts, the primary thread, merging), macro expansion, and the
// machine id: made once, stored as "TMID_<computer name>" under "Software\Classes", read back
// from the per-user hive first.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "context_test_fixture.h"
#include "foundation/context/context_store.h"
#include "foundation/context/hx_macro.h"
#include "foundation/kv/hx_kv_file.h"
#include "platform/guid.h"
#include "platform/identity.h"

namespace {

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void OnOtherThread(Body body) {
  std::thread worker(body);
  worker.join();
}

using ContextStoreTest = ContextTest;

TEST_F(ContextStoreTest, NoContextReadsEmptyAndSetContextValueCreatesOneWithDefaults) {
  EXPECT_EQ(S(GetValue("SdcContext", "ProviderId")), "");
  ASSERT_TRUE(SetContextValue("DnaServer", "http:\\\\host\\"));
  EXPECT_EQ(S(GetContextValue("ProviderId")), "default");
  EXPECT_EQ(S(GetContextValue("dnaserver")), "http:\\\\host\\");
  ASSERT_TRUE(SetContextValue("DNASERVER", "other"));
  EXPECT_EQ(S(GetContextValue("DnaServer")), "other");
  // SetValue never creates a section.
  EXPECT_FALSE(SetValue("Paths", "DirLogs", "x"));
  EXPECT_EQ(S(GetValue("Paths", "DirLogs")), "");
}

TEST_F(ContextStoreTest, ThreadWithoutContextReadsThePrimaryThreadsUntilItSetsAValue) {
  ASSERT_TRUE(SetContextValue("DnaServer", "primary"));
  std::string seen;
  OnOtherThread([&] { seen = S(GetContextValue("DnaServer")); });
  EXPECT_EQ(seen, "primary");
  // A thread that sets a value gets its own context.
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

TEST_F(ContextStoreTest,
       DefaultsFilledOnReadGoIntoTheContextThatWasReadAndTheEncodingReachesKeyValueFiles) {
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

TEST(HxMacroTest, ExpandReplacesEveryTokenCaseSensitivelyAndReverseTurnsValuesBack) {
  HxMacro macro;
  macro.Set("%SERVERROOT%", "http:\\\\srv\\");
  macro.Set("%MACHINE%", "box");
  HxStr out;
  EXPECT_TRUE(macro.Expand("%SERVERROOT%profiles\\%MACHINE%\\%MACHINE%", out));
  EXPECT_EQ(std::string(out.c_str()), "http:\\\\srv\\profiles\\box\\box");

  HxStr back;
  EXPECT_TRUE(macro.Expand(out, back, true));
  EXPECT_EQ(std::string(back.c_str()), "%SERVERROOT%profiles\\%MACHINE%\\%MACHINE%");

  macro.Set("%A%", "x%A%x");  // a value holding its own token is not expanded again
  EXPECT_FALSE(macro.Expand("%a% stays", out));
  EXPECT_EQ(std::string(out.c_str()), "%a% stays");
  EXPECT_TRUE(macro.Expand("%A%%A%", out));
  EXPECT_EQ(std::string(out.c_str()), "x%A%xx%A%x");
}

// The value of a macro, or "<absent>".
std::string MacroValue(const HxMacro& macro, const char* name) {
  HxStr value;
  return macro.Get(name, value) ? std::string(value.c_str()) : "<absent>";
}

TEST_F(ContextStoreTest, MacroMachineAddsMachineUserAndPaths) {
  SetContextValue("UserName", "alice");
  HxMacroMachine macro;
  macro.Set("%USERNAME%", "kept");
  macro.SetMachineAndUser("", "bob");
  EXPECT_EQ(MacroValue(macro, "%MACHINE%"), platform::ComputerName());
  EXPECT_EQ(MacroValue(macro, "%USERNAME%"), "kept");

  HxMacroMachine fromContext;
  fromContext.SetMachineAndUser("pc", "");
  EXPECT_EQ(MacroValue(fromContext, "%USERNAME%"), "alice");

  EXPECT_TRUE(macro.AddPathMacro("%BIN%", "/opt/tool/bin/run.sh"));
  EXPECT_EQ(MacroValue(macro, "%BIN%"), "/opt/tool/bin\\");
  EXPECT_TRUE(macro.AddPathMacro("%DATA%", "C:\\data\\file.txt"));
  EXPECT_EQ(MacroValue(macro, "%DATA%"), "C:\\data\\");
  EXPECT_FALSE(macro.AddPathMacro("%NONE%", "file.txt"));
}

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr const char* kClasses = "Software\\Classes";

class MachineIdTest : public ContextTest {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadContext("prov", "", "alice", false)); }

  static std::string Stored(uint32_t root) {
    platform::RegistryValue value;
    if (!GetRaw(root, kClasses, S(MachineIdValueName()).c_str(), value)) return "<absent>";
    EXPECT_EQ(value.type, platform::kRegSz);
    EXPECT_TRUE(!value.data.empty() && value.data.back() == 0);  // terminating zero stored
    return std::string(reinterpret_cast<const char*>(value.data.data()));
  }
};

TEST_F(MachineIdTest, MadeOnceAsALowerCaseGuidAndStoredForTheMachine) {
  PutText(kHkeyLocalMachine, kClasses, "Other", "x");  // the machine's classes key exists
  EXPECT_EQ(S(MachineIdValueName()), "TMID_" + platform::ComputerName());
  const std::string id = S(GetMachineId());
  platform::Guid guid;
  ASSERT_TRUE(platform::GuidFromString(id, guid));
  EXPECT_EQ(id.size(), 38u);
  EXPECT_EQ(id.find_first_of("ABCDEF"), std::string::npos);
  EXPECT_EQ(Stored(kHkeyLocalMachine), id);
  EXPECT_EQ(Stored(kHkeyCurrentUser), "<absent>");

  EXPECT_EQ(S(GetMachineId()), id);
  ForgetMachineId();  // a new process reads the stored one
  EXPECT_EQ(S(GetMachineId()), id);
}

TEST_F(MachineIdTest, PerUserHiveIsReadFirst) {
  const std::string name = S(MachineIdValueName());
  PutText(kHkeyLocalMachine, kClasses, name.c_str(), "{machine}");
  PutText(kHkeyCurrentUser, kClasses, name.c_str(), "{user}");
  EXPECT_EQ(S(GetMachineId()), "{user}");
  ForgetMachineId();
  DeleteValue(kHkeyCurrentUser, kClasses, name.c_str());
  EXPECT_EQ(S(GetMachineId()), "{machine}");
}

TEST_F(MachineIdTest, StoredForTheUserWhenTheMachineKeyCannotBeOpened) {
  platform::RegistryKey software;
  ASSERT_EQ(software.Open(kHkeyLocalMachine, "Software", platform::kKeyAllAccess), 0u);
  software.DeleteTree("Classes");
  const std::string id = S(GetMachineId());
  ASSERT_EQ(id.size(), 38u);
  EXPECT_EQ(Stored(kHkeyCurrentUser), id);
  EXPECT_EQ(Stored(kHkeyLocalMachine), "<absent>");
}

}  // namespace
