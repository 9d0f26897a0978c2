// The machine id: made once, stored as "TMID_<computer name>" under "Software\Classes", read back
// from the per-user hive first.
#include <gtest/gtest.h>

#include <string>

#include "context_test_fixture.h"
#include "foundation/context/machine_id.h"
#include "platform/guid.h"
#include "platform/identity.h"

namespace {

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
