// The manifest loader over a file holding the input, and the rule scripts it yields parsed
// into lines, as the updater would.
#include <vector>

#include "fuzz_support.h"
#include "noltsync/manifest/nolt_manifest.h"
#include "noltsync/manifest/rule_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NoltManifest manifest;
  if (!manifest.LoadManifest(WriteFuzzInput("manifest.xml", data, size))) return 0;
  for (const auto& [name, script] : manifest.Scripts()) {
    std::vector<RuleLine> lines;
    if (script.language == kScriptRule) ParseScriptText(std::string_view(script.text), lines);
  }
  return 0;
}
