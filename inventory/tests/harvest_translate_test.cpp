// SI token syntax and resolution over a collection the test supplies.
#include <gtest/gtest.h>

#include <string>

#include "inventory/sdc_sync_data_harvest_ex.h"

namespace {

// Supplies a fixed collection instead of running the collector, and counts collections.
class FixedHarvest : public SdcSyncDataHarvestEx {
 public:
  void Add(const char* className, const char* key,
           std::initializer_list<std::pair<const char*, const char*>> properties) {
    SdcHarvestInstance instance;
    instance.className = className;
    instance.key = key;
    for (const auto& [name, value] : properties) instance.properties.Put(name, value);
    m_pending.push_back(std::move(instance));
  }
  std::string Out(const char* text) {
    HxStr out;
    lastResult = Translate(text, out);
    return out.c_str();
  }
  int collects = 0;
  bool lastResult = false;

 protected:
  void Collect() override {
    ++collects;
    m_collection = m_pending;
  }

 private:
  SdcHarvestCollection m_pending;
};

class TranslateTest : public ::testing::Test {
 protected:
  TranslateTest() {
    harvest.Add("Disk", "sdb", {{"Size", "200"}, {"Label", "data"}});
    harvest.Add("Disk", "sda", {{"Size", "100"}});
    harvest.Add("Disk", "sdc", {{"Label", "spare"}});
    harvest.Add("Os", "main", {{"Name", "Debian"}});
  }
  FixedHarvest harvest;
};

TEST_F(TranslateTest, TextWithoutSiTokenIsRefusedAndUnchanged) {
  EXPECT_EQ(harvest.Out("%MODULEVERSION%"), "%MODULEVERSION%");
  EXPECT_FALSE(harvest.lastResult);
  EXPECT_EQ(harvest.Out("plain text"), "plain text");
  EXPECT_FALSE(harvest.lastResult);
  // Two-part and empty-part forms are not SI tokens either.
  for (const char* text : {"%Disk::sda%", "%::sda::Size%", "%Disk::::Size%", "%Disk::sda::%"}) {
    EXPECT_EQ(harvest.Out(text), text);
    EXPECT_FALSE(harvest.lastResult) << text;
  }
}

TEST_F(TranslateTest, QuestionMarkTakesFirstInstanceOfClass) {
  EXPECT_EQ(harvest.Out("size=%Disk::?::Size%"), "size=200");
  EXPECT_TRUE(harvest.lastResult);
  EXPECT_EQ(harvest.Out("%os::?::Name%"), "Debian");  // class compared without case
  // The first instance lacks the property: the token stays.
  EXPECT_EQ(harvest.Out("%Os::?::Version%"), "%Os::?::Version%");
  EXPECT_TRUE(harvest.lastResult);
}

TEST_F(TranslateTest, AsteriskJoinsPairsWithBarsInKeyOrder) {
  EXPECT_EQ(harvest.Out("%Disk::*::Size%"), "sda,100|sdb,200");
  EXPECT_EQ(harvest.Out("%Disk::*::Label%"), "sdb,data|sdc,spare");
  EXPECT_EQ(harvest.Out("[%Disk::*::Missing%]"), "[%Disk::*::Missing%]");
}

TEST_F(TranslateTest, KeySelectorMatchesWithoutCaseAndUnknownKeyStays) {
  EXPECT_EQ(harvest.Out("%Disk::SDA::Size%"), "100");
  EXPECT_EQ(harvest.Out("%Disk::sdz::Size%"), "%Disk::sdz::Size%");
  EXPECT_TRUE(harvest.lastResult);
  EXPECT_EQ(harvest.Out("%Net::sda::Size%"), "%Net::sda::Size%");
}

TEST_F(TranslateTest, SeveralTokensAndOtherMacrosInOneText) {
  EXPECT_EQ(
      harvest.Out("%USERNAME% on %Os::main::Name% with %Disk::sda::Size% and %Disk::sda::Size%"),
      "%USERNAME% on Debian with 100 and 100");
  // The property part keeps further "::".
  FixedHarvest fresh;
  fresh.Add("X", "k", {{"a::b", "v"}});
  EXPECT_EQ(fresh.Out("%X::k::a::b%"), "v");
}

TEST_F(TranslateTest, OverlongCandidateIsNoToken) {
  std::string longSelector(4095, 'k');
  std::string token = "%Disk::" + longSelector + "::Size%";
  EXPECT_EQ(harvest.Out(token.c_str()), token);
  EXPECT_FALSE(harvest.lastResult);
  // At the limit it is a token (unresolved, so it stays, but the text counts as an SI text).
  std::string atLimit = "%Disk::" + std::string(4095 - 14, 'k') + "::Size%";
  ASSERT_EQ(atLimit.size(), 4095u);
  EXPECT_EQ(harvest.Out(atLimit.c_str()), atLimit);
  EXPECT_TRUE(harvest.lastResult);
}

TEST_F(TranslateTest, CollectsOncePerObjectWhateverTheOutcome) {
  harvest.Out("%MODULEVERSION%");
  harvest.Out("%Disk::sda::Size%");
  harvest.Out("%Disk::sdb::Size%");
  EXPECT_EQ(harvest.collects, 1);
  EXPECT_TRUE(harvest.HasCollected());
  FixedHarvest other;
  EXPECT_FALSE(other.HasCollected());
  other.Out("x");
  EXPECT_EQ(other.collects, 1);
}

TEST(SplitSiTokenTest, SplitsAtFirstTwoSeparators) {
  std::string_view c, s, p;
  ASSERT_TRUE(SplitSiToken("%A::B::C::D%", c, s, p));
  EXPECT_EQ(c, "A");
  EXPECT_EQ(s, "B");
  EXPECT_EQ(p, "C::D");
  EXPECT_FALSE(SplitSiToken("%A::B%", c, s, p));
  EXPECT_FALSE(SplitSiToken("%%", c, s, p));
}

}  // namespace
