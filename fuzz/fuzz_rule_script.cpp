// The rule-script parser and evaluator: each input is evaluated without an inventory and with
// a small in-memory one, so the real macro expander runs without touching this machine.
#include <initializer_list>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/manifest/rule_script.h"
#include "noltsync/manifest/script_error.h"

namespace {

// An inventory of two operating-system instances and one disk, collected from memory.
class FixedHarvest : public SdcSyncDataHarvestEx {
 protected:
  void Collect() override {
    Add("OS", "main", {{"Version", "10.0.19045"}, {"Name", "Linux"}});
    Add("OS", "other", {{"Version", "6"}, {"Build", ""}});
    Add("Disk", "C:", {{"Size", "1048576"}, {"Free", "-12"}});
  }

 private:
  void Add(const char* className, const char* key,
           std::initializer_list<std::pair<const char*, const char*>> properties) {
    SdcHarvestInstance instance{HxStr(className), HxStr(key), {}};
    for (const auto& [name, value] : properties) instance.properties.Set(HxStr(name), HxStr(value));
    m_collection.push_back(std::move(instance));
  }
};

// The filter host catches script_error around one script; so does this.
void Evaluate(std::string_view text, SdcSyncDataHarvestEx* harvest) {
  try {
    EvaluateRuleScript(text, harvest);
  } catch (const script_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRoot();
  static FixedHarvest harvest;
  const std::string_view text = FuzzText(data, size);
  std::vector<RuleLine> lines;
  ParseScriptText(text, lines);
  Evaluate(text, nullptr);
  Evaluate(text, &harvest);
  return 0;
}
