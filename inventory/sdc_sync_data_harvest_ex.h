// SdcSyncDataHarvestEx: expands inventory (SI) macros "%Class::Selector::Property%" in a text
// from instances that the inventory collector gathers once, on first use, from the template
// "default.xml" in the content directory.
#pragma once
#include <string_view>
#include <vector>

#include "foundation/kv/hx_kv_list.h"
#include "foundation/strings/hx_str.h"

// One collected object: its class, its key binding value and its properties.
struct SdcHarvestInstance {
  HxStr className;
  HxStr key;
  HxKVList properties;
};

using SdcHarvestCollection = std::vector<SdcHarvestInstance>;

class SdcSyncDataHarvestEx {
 public:
  SdcSyncDataHarvestEx() = default;
  SdcSyncDataHarvestEx(const SdcSyncDataHarvestEx&) = delete;
  SdcSyncDataHarvestEx& operator=(const SdcSyncDataHarvestEx&) = delete;
  virtual ~SdcSyncDataHarvestEx() = default;

  // out := text with every SI macro token replaced by its collected value (a token that cannot
  // be resolved stays). Collects first when this object has not collected yet. False when the
  // text holds no SI macro token; out is then the text unchanged.
  virtual bool Translate(HxStr text, HxStr& out);

  // Collects from `templatePath` instead of the content directory's "default.xml" the next time
  // collecting runs (when it has not run yet).
  void SetTemplatePath(const HxStr& templatePath) { m_templatePath = templatePath; }

  // True once collecting has run (whatever its outcome).
  bool HasCollected() const { return m_collected; }
  const SdcHarvestCollection& Collection() const { return m_collection; }

 protected:
  // Runs the collector over the template into a temporary "si" result file and reads it back
  // into the collection. Called at most once per object, from Translate.
  virtual void Collect();

  // The value of one SI token's three parts; false when it cannot be resolved.
  bool Resolve(std::string_view className, std::string_view selector,
               std::string_view property, HxStr& value) const;

  SdcHarvestCollection m_collection;

 private:
  bool m_collected = false;
  HxStr m_templatePath;  // empty: DirContent + "default.xml"
  HxStr m_resultFile;
};

// Splits the text between a token's percent signs at the first two "::" into three non-empty
// parts. False when it does not have that form.
bool SplitSiToken(std::string_view token, std::string_view& className, std::string_view& selector,
                  std::string_view& property);
