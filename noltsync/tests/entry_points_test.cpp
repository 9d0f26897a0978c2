// The plug-in loaded with the host's loader, driven through its nine entry points.
#include <gtest/gtest.h>

#include "noltsync/tests/plugin_harness.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"

namespace {

class EntryPointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.Loaded()) << plugin_.LoadError();
    plugin_.InstallLogger();
    PluginHarness::ClearLines();
  }
  const ModletApi& Api() { return plugin_.Api(); }

  platform::testing::ScopedSandbox sandbox_;
  PluginHarness plugin_;
};

TEST_F(EntryPointsTest, InitContextLogsAndCreatesTheShutdownEvent) {
  EXPECT_EQ(Api().init(), 0);
  void* context = Api().initContext("prov", "alice");
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(Api().getState(context), 3);

  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletInit called\n"));
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletInitContext\n"));
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletInitContext..userId: alice providerId: prov\n"));
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletInitContext..Created event MODLET_SYNC_prov_alice\n"));
  EXPECT_NE(platform::Event::Open("MODLET_SYNC_prov_alice"), nullptr);

  EXPECT_EQ(Api().disposeContext(context), 0);
  EXPECT_EQ(Api().dispose(), 0);
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletDisposeContext...\n"));
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletDispose...\n"));
}

TEST_F(EntryPointsTest, StartWithoutAValidServerEndsInStateSix) {
  void* context = Api().initContext("prov", "alice");
  Api().start(context);
  EXPECT_EQ(Api().getState(context), 6);
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletStart entered\n"));
  EXPECT_TRUE(PluginHarness::HasLine(2, "Modlet Started: ProviderId=prov UserId=alice Server=\n"));
  EXPECT_TRUE(PluginHarness::HasLine(8, "Server path not valid: \n"));
  EXPECT_TRUE(PluginHarness::HasLine(2, "ModletStart exited\n"));

  // A second start on the same context runs the sequence again.
  PluginHarness::ClearLines();
  Api().start(context);
  EXPECT_EQ(Api().getState(context), 6);
  EXPECT_TRUE(PluginHarness::HasLine(2, "ModletStart exited\n"));
  Api().disposeContext(context);
}

TEST_F(EntryPointsTest, ContextsOfOneProviderAndUserShareTheShutdownEvent) {
  void* first = Api().initContext("prov", "bob");
  void* second = Api().initContext("prov", "bob");
  auto observer = platform::Event::Open("MODLET_SYNC_prov_bob");
  ASSERT_NE(observer, nullptr);

  // A stop before any start leaves the auto-reset event signalled for the next wait.
  EXPECT_EQ(Api().stop(second), 3);
  EXPECT_TRUE(PluginHarness::HasLine(2, "ModletStop entered...signaling shutdown event.\n"));
  EXPECT_EQ(platform::WaitForOne(*observer, 0), platform::kWaitObject0);
  EXPECT_EQ(platform::WaitForOne(*observer, 0), platform::kWaitTimeout);

  Api().stop(first);
  EXPECT_EQ(platform::WaitForOne(*observer, 0), platform::kWaitObject0);
  Api().disposeContext(first);
  Api().disposeContext(second);
}

TEST_F(EntryPointsTest, PropertiesFollowTheirRules) {
  void* context = Api().initContext("prov", "carol");
  PluginHarness::ClearLines();

  EXPECT_EQ(Api().getProperty(context, "LOGGER"), 0);
  EXPECT_EQ(Api().getProperty(context, "MODLET_NAME"), 0);
  EXPECT_EQ(PluginHarness::Lines().size(), 2u);

  // A name with a null context does nothing; an unknown property is logged and ignored.
  EXPECT_EQ(Api().setProperty(nullptr, "MODLET_NAME", "Tidesync"), 0);
  EXPECT_EQ(Api().setProperty(context, "SOMETHING_ELSE", "1"), 0);
  EXPECT_EQ(Api().setProperty(context, "MASTER_THREAD_ID", "not a number"), 0);
  EXPECT_EQ(PluginHarness::Lines().size(), 5u);
  EXPECT_EQ(PluginHarness::Lines()[4].text.find("ModletSetProperty("), 0u);

  // A logger value that does not scan keeps the logger that is set.
  Api().setProperty(nullptr, "LOGGER", "zz");
  PluginHarness::ClearLines();
  Api().init();
  EXPECT_TRUE(PluginHarness::HasLine(1, "ModletInit called\n"));
  Api().disposeContext(context);
}

TEST_F(EntryPointsTest, AnExceptionOrAFaultInsideTheStartEndsInStateMinusOne) {
  for (const bool fault : {false, true}) {
    SCOPED_TRACE(fault ? "fault" : "exception");
    PluginHarness::ClearLines();
    void* context = Api().initContext("prov", fault ? "erin" : "dave");
    fault ? PluginHarness::FaultOnLine("Modlet Started")
          : PluginHarness::ThrowOnLine("Modlet Started");
    Api().start(context);
    EXPECT_EQ(Api().getState(context), -1);
    EXPECT_TRUE(PluginHarness::HasLine(8, fault ? "ModletStart: Exception code=c0000005\n"
                                                : "ModletStart: Exception code=e06d7363\n"));
    EXPECT_FALSE(PluginHarness::HasLine(2, "ModletStart exited\n"));
    Api().disposeContext(context);
  }
}

}  // namespace
