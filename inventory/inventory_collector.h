// The inventory collector: runs the commands of a data-collection template and writes what they
// find as an UPLOADINFO result document (inventory/upload_info.h).
#pragma once
#include <string_view>
#include <vector>

#include "foundation/strings/hx_str.h"
#include "inventory/harvest_system.h"

class InventoryCollector {
 public:
  // `system` (kept, not owned) supplies environment, mounts and packages; null: this machine's.
  explicit InventoryCollector(const HarvestSystem* system = nullptr);

  // Runs the template at `templatePath` into `resultPath` under the issue name. The template's
  // text is wrapped in one root element, so it may hold several top-level command elements.
  // False when the template cannot be read or parsed or the result cannot be written; commands
  // that are unknown or malformed are skipped with a warning (see Rejections).
  bool Run(std::string_view templatePath, std::string_view resultPath,
           std::string_view issueName);

  // The rejection lines of the last run, one per skipped element.
  const std::vector<HxStr>& Rejections() const { return m_rejections; }
  int InstanceCount() const { return m_instances; }

 private:
  void Reject(int number, std::string_view templatePath, const HxStr& reason);

  const HarvestSystem* m_system;
  std::vector<HxStr> m_rejections;
  int m_instances = 0;
};
