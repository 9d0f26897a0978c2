// HxRegKey and HxRegVal: opening, closing and reading any key, with their failure traces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/registry/hx_reg_key.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

class HxRegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegistryKey key;
    ASSERT_EQ(
        key.Create(platform::kHkeyLocalMachine, "Software\\Test\\Child", platform::kKeyAllAccess),
        0u);
    ASSERT_EQ(key.SetValue("bare", platform::kRegSz, "abc", 3), 0u);
    ASSERT_EQ(key.SetDword("number", 0x01020304), 0u);
    ASSERT_EQ(key.SetValue("empty", platform::kRegBinary, nullptr, 0), 0u);
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(HxRegKeyTest, OpenCloseAndTheClosedAccessMask) {
  HxRegKey key;
  EXPECT_EQ(key.Access(), HxRegKey::kClosedAccess);
  ASSERT_TRUE(key.Open("Software\\Test", platform::kKeyRead));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Path(), "Software\\Test");
  EXPECT_EQ(key.Access(), platform::kKeyRead);
  // Opening again closes the first key.
  ASSERT_TRUE(key.Open("Software\\Test\\Child", platform::kKeyQueryValue));
  EXPECT_EQ(key.Path(), "Software\\Test\\Child");
  EXPECT_TRUE(key.Close());
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.Access(), HxRegKey::kClosedAccess);
  TraceCapture trace;
  EXPECT_FALSE(key.Close());
  EXPECT_EQ(trace.Text(), "   REGTREE: ERROR RegCloseKey failed!: 6\n");
}

TEST_F(HxRegKeyTest, FailedOpenIsTracedAndCreateMakesTheKey) {
  HxRegKey key;
  TraceCapture trace;
  EXPECT_FALSE(key.Open("Software\\Missing", platform::kKeyRead));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(trace.Text(), "   REGTREE: ERROR RegOpenKeyEx failed!: Software\\Missing 2\n");
  EXPECT_TRUE(key.Open("Software\\Missing", platform::kKeyAllAccess, true));
  platform::RegistryKey check;
  EXPECT_EQ(check.Open(platform::kHkeyLocalMachine, "Software\\Missing", platform::kKeyRead), 0u);
}

TEST_F(HxRegKeyTest, KeysBelowAnOpenParent) {
  HxRegKey parent;
  HxRegKey child(&parent);
  EXPECT_FALSE(child.Open("Child", platform::kKeyRead));  // the parent is not open yet
  ASSERT_TRUE(parent.Open("Software\\Test", platform::kKeyRead));
  ASSERT_TRUE(child.Open("Child", platform::kKeyRead));
  HxRegVal value(child);
  EXPECT_TRUE(value.Query("number"));
}

TEST_F(HxRegKeyTest, ValuesReadWithTheirTypeSizeAndATerminator) {
  HxRegKey key;
  ASSERT_TRUE(key.Open("Software\\Test\\Child", platform::kKeyRead));
  HxRegVal value(key);
  ASSERT_TRUE(value.Query("bare"));
  EXPECT_TRUE(value.Found());
  EXPECT_EQ(value.Type(), platform::kRegSz);
  EXPECT_EQ(value.Size(), 3u);
  EXPECT_STREQ(value.Text(), "abc");
  uint32_t number = 0;
  EXPECT_FALSE(value.GetDword(number));

  ASSERT_TRUE(value.Query("number"));
  ASSERT_TRUE(value.GetDword(number));
  EXPECT_EQ(number, 0x01020304u);

  ASSERT_TRUE(value.Query("empty"));
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_STREQ(value.Text(), "");
}

TEST_F(HxRegKeyTest, FailedQueryIsTracedAndForgetsTheLastValue) {
  HxRegKey key;
  ASSERT_TRUE(key.Open("Software\\Test\\Child", platform::kKeyRead));
  HxRegVal value(key);
  ASSERT_TRUE(value.Query("number"));
  TraceCapture trace;
  EXPECT_FALSE(value.Query("absent"));
  EXPECT_FALSE(value.Found());
  uint32_t number = 0;
  EXPECT_FALSE(value.GetDword(number));
  EXPECT_EQ(trace.Text(), "   REGTREE: ERROR RegQueryValueEx failed!: 2\n");
  key.Close();
  EXPECT_FALSE(value.Query("number"));
}

}  // namespace
