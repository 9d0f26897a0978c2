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
  int collects = 0;

 protected:
  void Collect() override {
    ++collects;
    m_collection = m_pending;
  }

 private:
  SdcHarvestCollection m_pending;
};

TEST(TranslateTest, TokensResolveOverTheCollection) {
  FixedHarvest harvest;
  harvest.Add("Disk", "sdb", {{"Size", "200"}, {"Label", "data"}});
  harvest.Add("Disk", "sda", {{"Size", "100"}});
  harvest.Add("Disk", "sdc", {{"Label", "spare"}});
  harvest.Add("Os", "main", {{"Name", "Debian"}});
  harvest.Add("X", "k", {{"a::b", "v"}});
  const std::string longToken = "%Disk::" + std::string(4095, 'k') + "::Size%";
  const std::string atLimit = "%Disk::" + std::string(4095 - 14, 'k') + "::Size%";  // 4095
  const struct {
    std::string text;
    std::string out;
    bool result;  // false: the text holds no SI token
  } kTexts[] = {
      {"%MODULEVERSION%", "%MODULEVERSION%", false},
      {"plain text", "plain text", false},
      // Two parts or an empty part make no SI token; neither does an over-long candidate.
      {"%Disk::sda%", "%Disk::sda%", false},
      {"%::sda::Size%", "%::sda::Size%", false},
      {"%Disk::::Size%", "%Disk::::Size%", false},
      {"%Disk::sda::%", "%Disk::sda::%", false},
      {longToken, longToken, false},
      {atLimit, atLimit, true},  // a token, unresolved
      // "?" takes the first instance of the class (compared without case); "*" joins every
      // instance's key and value in key order; a key selector ignores case.
      {"size=%Disk::?::Size%", "size=200", true},
      {"%os::?::Name%", "Debian", true},
      {"%Os::?::Version%", "%Os::?::Version%", true},
      {"%Disk::*::Size%", "sda,100|sdb,200", true},
      {"%Disk::*::Label%", "sdb,data|sdc,spare", true},
      {"[%Disk::*::Missing%]", "[%Disk::*::Missing%]", true},
      {"%Disk::SDA::Size%", "100", true},
      {"%Disk::sdz::Size%", "%Disk::sdz::Size%", true},
      {"%Net::sda::Size%", "%Net::sda::Size%", true},
      // Several tokens and other macros in one text; the property part keeps further "::".
      {"%USERNAME% on %Os::main::Name% with %Disk::sda::Size% and %Disk::sda::Size%",
       "%USERNAME% on Debian with 100 and 100", true},
      {"%X::k::a::b%", "v", true},
  };
  EXPECT_FALSE(harvest.HasCollected());
  for (const auto& [text, out, result] : kTexts) {
    HxStr translated;
    EXPECT_EQ(harvest.Translate(text.c_str(), translated), result) << text.substr(0, 40);
    EXPECT_EQ(std::string(translated.c_str()), out) << text.substr(0, 40);
    EXPECT_EQ(harvest.collects, 1);  // at the first text, whatever it holds, and never again
  }
}

}  // namespace
