#include "manifest_commands.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "foundation/context/directory_layout.h"
#include "foundation/transfer/transfer_temp.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "log_to_streams.h"
#include "noltsync/manifest/nolt_manifest.h"
#include "noltsync/manifest/rule_script.h"
#include "noltsync/manifest/script_error.h"

namespace noltpub {

namespace {

// Rule scripts are small; a larger file is not a script.
constexpr std::uintmax_t kMaxScriptBytes = 1 << 20;

constexpr const char* kDefaultTemplate =
    "<EnvEnum/>\n"
    "<AppEnum/>\n"
    "<LogicalDiskEnum/>\n";

// A field on one tab-separated line: tabs, line ends and backslashes written as escapes.
std::string Field(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\t': escaped += "\\t"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\\': escaped += "\\\\"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

const char* LanguageName(int language) {
  switch (language) {
    case kScriptVbScript: return "vbscript";
    case kScriptJScript: return "jscript";
    default: return "rule";
  }
}

const char* LevelName(const ManifestFileEntry& entry) {
  if (entry.machineLevel && entry.userLevel) return "both";
  return entry.machineLevel ? "machine" : "user";
}

void PrintScripts(const ManifestFilterScripts& scripts, std::ostream& out) {
  out << "scripts\t" << scripts.size() << "\tname\tgroup\tlanguage\ttext\n";
  for (const auto& [name, entry] : scripts) {
    out << Field(name.c_str()) << '\t' << Field(entry.group.c_str()) << '\t'
        << LanguageName(entry.language) << '\t' << Field(entry.text.c_str()) << '\n';
  }
}

void PrintFiles(const char* title, const ManifestFileTable& files, std::ostream& out) {
  out << title << '\t' << files.size() << "\tfilename\tsource\ttarget\tfchecksum\tfilters\tlevel\n";
  for (const auto& [name, entry] : files) {
    out << Field(name.c_str()) << '\t' << Field(entry.source.c_str()) << '\t'
        << Field(entry.target.c_str()) << '\t' << Field(entry.checksum.c_str()) << '\t'
        << Field(entry.filters.c_str()) << '\t' << LevelName(entry) << '\n';
  }
}

bool ReadScript(const std::string& path, std::string& text, std::ostream& err) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  std::ifstream in(path, std::ios::binary);
  if (error || !in) {
    err << "noltpub: cannot read " << path << "\n";
    return false;
  }
  if (size > kMaxScriptBytes) {
    err << "noltpub: " << path << " is too large for a rule script\n";
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // A script written on Windows ends its lines in CR LF; the CR is no part of a rule's value.
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') text[kept++] = text[i];
  }
  text.resize(kept);
  return true;
}

}  // namespace

bool CheckManifest(const std::string& path, std::ostream& out, std::ostream& err) {
  const LogToStreams log(out, err);
  NoltManifest manifest;
  if (!manifest.LoadManifest(path)) return false;
  PrintScripts(manifest.Scripts(), out);
  PrintFiles("profile-set", manifest.ProfileFiles(), out);
  PrintFiles("data-set", manifest.DataFiles(), out);
  return true;
}

RuleOutcome EvaluateRuleScriptFile(const std::string& templatePath, const std::string& scriptPath,
                                   std::ostream& out, std::ostream& err) {
  std::string script;
  if (!ReadScript(scriptPath, script, err)) return RuleOutcome::kError;
  ScopedTempFile builtIn;
  HxStr chosen(templatePath);
  if (templatePath.empty()) {
    if (!builtIn.Create("tpl")) {
      err << "noltpub: cannot create the default template\n";
      return RuleOutcome::kError;
    }
    std::ofstream(LocalPath(builtIn.Path().c_str()), std::ios::binary) << kDefaultTemplate;
    chosen = builtIn.Path();
  }
  const LogToStreams log(out, err);
  SdcSyncDataHarvestEx harvest;
  harvest.SetTemplatePath(chosen);
  try {
    return EvaluateRuleScript(script, &harvest) ? RuleOutcome::kTrue : RuleOutcome::kFalse;
  } catch (const script_error& error) {
    err << "noltpub: " << error.what() << "\n";
    return RuleOutcome::kError;
  }
}

}  // namespace noltpub
