#include "inventory/sdc_sync_data_harvest_ex.h"

#include <algorithm>

#include "foundation/context/directory_layout.h"
#include "foundation/context/hx_macro.h"
#include "foundation/transfer/transfer_temp.h"
#include "inventory/inventory_collector.h"
#include "inventory/upload_info.h"

namespace {

// A candidate between two percent signs longer than this cannot be an SI macro token.
constexpr size_t kMaxTokenLength = 4095;
constexpr const char* kIssueName = "TemporaryDataHarvestingIssue";

bool SameText(std::string_view a, std::string_view b) { return CompareNoCase(a, b) == 0; }

// Every "%...%" candidate of `text` that has the three-part form, added with an empty value.
void GatherTokens(std::string_view text, HxMacro& tokens) {
  size_t open = text.find('%');
  while (open != std::string_view::npos) {
    size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    std::string_view candidate = text.substr(open, close - open + 1);
    std::string_view a, b, c;
    if (candidate.size() <= kMaxTokenLength && SplitSiToken(candidate, a, b, c)) {
      tokens.Set(HxStr(candidate), HxStr());
    }
    open = text.find('%', close + 1);
  }
}

}  // namespace

bool SplitSiToken(std::string_view token, std::string_view& className, std::string_view& selector,
                  std::string_view& property) {
  while (!token.empty() && token.front() == '%') token.remove_prefix(1);
  while (!token.empty() && token.back() == '%') token.remove_suffix(1);
  size_t first = token.find("::");
  if (first == std::string_view::npos) return false;
  size_t second = token.find("::", first + 2);
  if (second == std::string_view::npos) return false;
  className = token.substr(0, first);
  selector = token.substr(first + 2, second - first - 2);
  property = token.substr(second + 2);
  return !className.empty() && !selector.empty() && !property.empty();
}

bool SdcSyncDataHarvestEx::Translate(HxStr text, HxStr& out) {
  out = text;
  if (!m_collected) {
    Collect();
    m_collected = true;
  }
  HxMacro tokens;
  GatherTokens(text, tokens);
  if (tokens.empty()) return false;
  for (auto& [token, value] : tokens) {
    std::string_view className, selector, property;
    SplitSiToken(token, className, selector, property);
    if (!Resolve(className, selector, property, value)) value = token;
  }
  tokens.Expand(text, out);
  return true;
}

bool SdcSyncDataHarvestEx::Resolve(std::string_view className, std::string_view selector,
                                   std::string_view property, HxStr& value) const {
  if (selector == "*") {
    std::vector<const SdcHarvestInstance*> having;
    for (const SdcHarvestInstance& instance : m_collection) {
      if (SameText(instance.className, className) && instance.properties.Contains(property)) {
        having.push_back(&instance);
      }
    }
    if (having.empty()) return false;
    std::stable_sort(having.begin(), having.end(), [](const auto* a, const auto* b) {
      return CompareNoCase(a->key, b->key) < 0;
    });
    HxStr joined;
    for (const SdcHarvestInstance* instance : having) {
      HxStr pair, propertyValue;
      instance->properties.Get(property, propertyValue);
      pair.Format("%s,%s", instance->key.c_str(), propertyValue.c_str());
      if (!joined.IsEmpty()) joined += '|';
      joined += pair;
    }
    value = joined;
    return true;
  }
  bool first = selector == "?";
  for (const SdcHarvestInstance& instance : m_collection) {
    if (!SameText(instance.className, className)) continue;
    if (first || SameText(instance.key, selector)) return instance.properties.Get(property, value);
  }
  return false;
}

void SdcSyncDataHarvestEx::Collect() {
  HxStr templatePath = m_templatePath;
  if (templatePath.IsEmpty()) {
    HxStr content;
    if (!GetDirectory("DirContent", content)) return;
    templatePath = DirectoryPath(content) + "default.xml";
  }
  ScopedTempFile result;
  if (!result.Create("si")) return;
  m_resultFile = result.Path();
  InventoryCollector collector;
  if (collector.Run(templatePath, m_resultFile, kIssueName)) {
    ReadUploadInfo(m_resultFile, m_collection);
  }
  m_resultFile.Empty();  // the scoped file deletes it in every outcome
}
