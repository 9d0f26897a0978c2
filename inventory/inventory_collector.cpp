#include "inventory/inventory_collector.h"

#include <fstream>
#include <iterator>

#include "foundation/context/directory_layout.h"
#include "foundation/log/host_logger.h"
#include "inventory/collectors.h"
#include "inventory/template_commands.h"
#include "xml/tu_xml_tree.h"

namespace {

constexpr const char* kRootName = "rootroot";
constexpr std::string_view kOpenRoot = "<rootroot>";
constexpr std::string_view kCloseRoot = "</rootroot>";
// Templates are short lists of commands; anything larger is not one.
constexpr std::streamsize kMaxTemplateBytes = 4 * 1024 * 1024;

// The collector of a command; null for the commands that yield no instances here.
CommandCollector CollectorFor(TemplateCommand command) {
  switch (command) {
    case TemplateCommand::kAppEnum: return CollectApplications;
    case TemplateCommand::kEnvEnum: return CollectEnvironment;
    case TemplateCommand::kLogicalDiskEnum: return CollectLogicalDisks;
    case TemplateCommand::kRegEnumValue: return CollectRegistryValues;
    case TemplateCommand::kRegEnumKey: return CollectRegistryKeys;
    case TemplateCommand::kRegQueryValue: return CollectRegistryValue;
    case TemplateCommand::kClass: return CollectClassBlock;
    case TemplateCommand::kProperty: return CollectProperty;
    case TemplateCommand::kScanFile: return CollectFiles;
    case TemplateCommand::kFileProp: return CollectFileProperties;
    case TemplateCommand::kIniQueryValue: return CollectIniValue;
    default: return nullptr;
  }
}

// The template's text inside the wrapping root; false when it cannot be read or is too large.
bool ReadWrappedTemplate(std::string_view path, std::string& text) {
  std::ifstream in(LocalPath(path), std::ios::binary);
  if (!in) return false;
  text.assign(kOpenRoot);
  char block[5000];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    text.append(block, static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxTemplateBytes) return false;
  }
  // An XML declaration cannot follow the wrapping root's start tag: drop it.
  size_t declaration = text.find("<?xml");
  if (declaration != std::string::npos) {
    size_t end = text.find("?>", declaration);
    if (end != std::string::npos) text.erase(declaration, end + 2 - declaration);
  }
  text.append(kCloseRoot);
  return true;
}

}  // namespace

InventoryCollector::InventoryCollector(const HarvestSystem* system) : m_system(system) {}

void InventoryCollector::Reject(int number, std::string_view templatePath, const HxStr& reason) {
  static constexpr const char* kFormat =
      "No.%d node under root '%s' in template file '%s' is not in good format. (%s)\n";
  HxStr path(templatePath);
  HxStr line;
  line.Format(kFormat, number, kRootName, path.c_str(), reason.c_str());
  HostLog(kLogWarning, kFormat, number, kRootName, path.c_str(), reason.c_str());
  m_rejections.push_back(line);
}

bool InventoryCollector::Run(std::string_view templatePath, std::string_view resultPath,
                             std::string_view issueName) {
  m_rejections.clear();
  m_instances = 0;
  std::string text;
  TuXMLTree tree;
  if (!ReadWrappedTemplate(templatePath, text) || !tree.LoadBuffer(text, true) ||
      !tree.IsValid()) {
    return false;
  }
  static const HarvestSystem kThisMachine;
  UploadInfoWriter out(issueName);
  HarvestRun run{out, m_system ? *m_system : kThisMachine, TuXMLNode()};
  TuXMLNode root = tree.GetRoot();
  int number = 0;
  for (TuXMLNode node = root.GetFirstChild(); node.IsValid(); node = root.GetNextChild(node)) {
    ++number;
    TemplateCommand command = MatchTemplateCommand(node.GetName());
    if (command == TemplateCommand::kNone) {
      Reject(number, templatePath, "unknown command <" + node.GetName() + ">");
      continue;
    }
    HxStr reason;
    CommandCollector collector = CollectorFor(command);
    if (collector && !collector(node, run, reason)) Reject(number, templatePath, reason);
  }
  m_instances = out.InstanceCount();
  return out.Save(resultPath);
}
