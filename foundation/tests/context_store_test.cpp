// The context store (per-thread contexts, the primary thread, merging), macro expansion, and the
// machine id: made once, stored as "TMID_<computer name>" under "Software\Classes", read back
// from the per-user hive first.
#include <gtest/gtest.h>

#include <string>

#include "context_test_fixture.h"
#include "foundation/context/context_store.h"
#include "foundation/context/hx_macro.h"
#include "platform/guid.h"
#include "platform/identity.h"

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using ContextStoreTest = ContextTest;

TEST_F(ContextStoreTest, ThreadsReadThePrimaryContextUntilTheyStoreAValueOfTheirOwn) {
  EXPECT_EQ(S(GetValue("SdcContext", "ProviderId")), "");  // no context at all
  ASSERT_TRUE(SetContextValue("DnaServer", "first"));
  ASSERT_TRUE(SetContextValue("DNASERVER", "primary"));  // one key, whatever its case
  EXPECT_EQ(Value("ProviderId"), "default");
  EXPECT_FALSE(SetValue("Paths", "DirLogs", "x"));  // never creates a section
  EXPECT_EQ(S(GetValue("Paths", "DirLogs")), "");
  std::string seen, hive, own, ownProvider;
  OnOtherThread([&] {
    seen = Value("dnaserver");
    hive = Value("HKCU");  // filled in on read, into the context that was read
  });
  OnOtherThread([&] {
    SetContextValue("Encoding", "utf8");
    own = Value("DnaServer");
    ownProvider = Value("ProviderId");
  });
  EXPECT_EQ(seen, "primary");
  EXPECT_EQ(hive, "-2147483647");
  EXPECT_EQ(S(GetValue("SdcContext", "HKCU")), "-2147483647");
  EXPECT_EQ(own, "");
  EXPECT_EQ(ownProvider, "default");
  EXPECT_EQ(Value("OSUserName"), "tester");
  EXPECT_EQ(Value("UserName"), "tester");
  EXPECT_EQ(ContextUserHive(), kHkeyCurrentUser);
}

TEST_F(ContextStoreTest, MergeAddsReplacesOrMergesSections) {
  struct Case {
    bool overwrite, replaceSections;
    const char *a, *b, *c;
  };
  for (const Case& c : {Case{false, false, "1", "2", "3"}, Case{true, false, "9", "2", "3"},
                        Case{false, true, "9", "", "3"}}) {
    ClearContextStore();
    HxKVListMap first;
    first.AddSection("General").Put("A", "1");
    first["General"].Put("B", "2");
    MergeContext(first, false, false);
    HxKVListMap second;
    second.AddSection("general").Put("A", "9");
    second["general"].Put("C", "3");
    MergeContext(second, c.overwrite, c.replaceSections);
    EXPECT_EQ(
        S(GetValue("General", "A")) + S(GetValue("General", "B")) + S(GetValue("General", "C")),
        std::string(c.a) + c.b + c.c);
    EXPECT_EQ(Value("ProviderId"), "default");
  }
}

TEST_F(ContextStoreTest, MacrosExpandCaseSensitivelyBothWaysAndTheMachineAddsItsOwn) {
  HxMacro macro;
  macro.Set("%SERVERROOT%", "http:\\\\srv\\");
  macro.Set("%MACHINE%", "box");
  macro.Set("%A%", "x%A%x");  // a value holding its own token is not expanded again
  struct Case {
    const char* input;
    bool reverse, replaced;
    const char* output;
  };
  for (const Case& c :
       {Case{"%SERVERROOT%p\\%MACHINE%\\%MACHINE%", false, true, "http:\\\\srv\\p\\box\\box"},
        Case{"http:\\\\srv\\p\\box", true, true, "%SERVERROOT%p\\%MACHINE%"},
        Case{"%a% stays", false, false, "%a% stays"}, Case{"%A%%A%", false, true, "x%A%xx%A%x"}}) {
    HxStr out;
    EXPECT_EQ(macro.Expand(c.input, out, c.reverse), c.replaced) << c.input;
    EXPECT_EQ(S(out), c.output);
  }
  SetContextValue("UserName", "alice");
  HxMacroMachine machine;
  machine.Set("%USERNAME%", "kept");
  machine.SetMachineAndUser("", "bob");
  HxMacroMachine fromContext;
  fromContext.SetMachineAndUser("pc", "");
  EXPECT_TRUE(machine.AddPathMacro("%BIN%", "/opt/tool/bin/run.sh"));
  EXPECT_TRUE(machine.AddPathMacro("%DATA%", "C:\\data\\file.txt"));
  EXPECT_FALSE(machine.AddPathMacro("%NONE%", "file.txt"));
  for (const auto& [macros, name, value] :
       std::vector<std::tuple<HxMacro*, const char*, std::string>>{
           {&machine, "%MACHINE%", platform::ComputerName()},
           {&machine, "%USERNAME%", "kept"},
           {&fromContext, "%USERNAME%", "alice"},
           {&machine, "%BIN%", "/opt/tool/bin\\"},
           {&machine, "%DATA%", "C:\\data\\"}}) {
    HxStr got("<absent>");
    macros->Get(name, got);
    EXPECT_EQ(S(got), value) << name;
  }
}

constexpr const char* kClasses = "Software\\Classes";

class MachineIdTest : public ContextTest {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadContext("prov", "", "alice", false)); }
  std::string Name() const { return S(MachineIdValueName()); }
  std::string Stored(uint32_t root) const {
    platform::RegistryValue value;
    if (!GetRaw(root, kClasses, Name().c_str(), value)) return "<absent>";
    EXPECT_EQ(value.type, platform::kRegSz);
    EXPECT_TRUE(!value.data.empty() && value.data.back() == 0);  // terminating zero stored
    return std::string(reinterpret_cast<const char*>(value.data.data()));
  }
};

TEST_F(MachineIdTest, MadeOnceAsALowerCaseGuidAndStoredForTheMachineElseForTheUser) {
  PutText(kHkeyLocalMachine, kClasses, "Other", "x");  // the machine's classes key exists
  EXPECT_EQ(Name(), "TMID_" + platform::ComputerName());
  const std::string id = S(GetMachineId());
  platform::Guid guid;
  ASSERT_TRUE(platform::GuidFromString(id, guid));
  EXPECT_EQ(id.size(), 38u);
  EXPECT_EQ(id.find_first_of("ABCDEF"), std::string::npos);
  EXPECT_EQ(Stored(kHkeyLocalMachine), id);
  EXPECT_EQ(Stored(kHkeyCurrentUser), "<absent>");
  ForgetMachineId();  // a new process reads the stored one
  EXPECT_EQ(S(GetMachineId()), id);

  ForgetMachineId();
  platform::RegistryKey software;
  ASSERT_EQ(software.Open(kHkeyLocalMachine, "Software", platform::kKeyAllAccess), 0u);
  software.DeleteTree("Classes");
  const std::string userId = S(GetMachineId());
  EXPECT_NE(userId, id);
  EXPECT_EQ(Stored(kHkeyCurrentUser), userId);
  EXPECT_EQ(Stored(kHkeyLocalMachine), "<absent>");
}

TEST_F(MachineIdTest, PerUserHiveIsReadFirst) {
  PutText(kHkeyLocalMachine, kClasses, Name().c_str(), "{machine}");
  PutText(kHkeyCurrentUser, kClasses, Name().c_str(), "{user}");
  EXPECT_EQ(S(GetMachineId()), "{user}");
  ForgetMachineId();
  DeleteValue(kHkeyCurrentUser, kClasses, Name().c_str());
  EXPECT_EQ(S(GetMachineId()), "{machine}");
}

}  // namespace
