// FileProp, ScanFile and IniQueryValue: one file's properties, the files of a directory tree
// whose names match a pattern, and one value of an INI file (read line by line).
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/context/directory_layout.h"
#include "inventory/collectors.h"
#include "platform/files.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The value of `name` in `section` of the INI file at `path`; false when absent.
bool FindIniValue(const std::string& path, std::string_view section, std::string_view name,
                  std::string& value) {
  std::ifstream in(path);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string_view text = Trimmed(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[') {
      size_t close = text.find(']');
      inSection = close != std::string_view::npos &&
                  CompareNoCase(Trimmed(text.substr(1, close - 1)), section) == 0;
      continue;
    }
    size_t equals = text.find('=');
    if (!inSection || equals == std::string_view::npos) continue;
    if (CompareNoCase(Trimmed(text.substr(0, equals)), name) == 0) {
      value = Trimmed(text.substr(equals + 1));
      return true;
    }
  }
  return false;
}

}  // namespace

bool CollectFileProperties(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  HxStr path;
  if (!RequiredAttribute(command, "PATH", path, reason)) return false;
  std::string local = LocalPath(path);
  uint64_t size = 0, written = 0;
  if (platform::IsDirectory(local) || !platform::GetFileSize(local, size) ||
      !platform::GetLastWriteTime(local, written)) {
    return true;  // no such file: no instance
  }
  TuXMLNode instance = run.out.AddInstance(ClassOf(command, "File"), InstanceKey(command, path));
  run.out.AddProperty(instance, "Path", path);
  run.out.AddProperty(instance, "Size", DecimalText(size));
  run.out.AddProperty(instance, "LastWriteTime", DecimalText(written));
  return true;
}

bool CollectFiles(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  namespace fs = std::filesystem;
  HxStr directory;
  if (!RequiredAttribute(command, "DIR", directory, reason)) return false;
  HxStr pattern = command.GetAttributeValue("NAME");
  if (pattern.IsEmpty()) pattern = "*";
  bool recursive = command.GetAttributeValue("RECURSIVE") != "0";
  HxStr className = ClassOf(command, "File");
  std::error_code error;
  fs::recursive_directory_iterator it(LocalPath(directory),
                                      fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!recursive) it.disable_recursion_pending();
    std::error_code statError;
    if (!it->is_regular_file(statError)) continue;
    HxStr name = it->path().filename().string();
    if (!name.MatchNoCase(pattern.c_str())) continue;
    HxStr full = it->path().string();
    TuXMLNode instance = run.out.AddInstance(className, full);
    run.out.AddProperty(instance, "Name", name);
    run.out.AddProperty(instance, "Path", full);
    run.out.AddProperty(instance, "Size", DecimalText(it->file_size(statError)));
  }
  return true;
}

bool CollectIniValue(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  HxStr path, section, name;
  if (!RequiredAttribute(command, "PATH", path, reason) ||
      !RequiredAttribute(command, "SECTION", section, reason) ||
      !RequiredAttribute(command, "KEY", name, reason)) {
    return false;
  }
  std::string value;
  if (!FindIniValue(LocalPath(path), section, name, value)) return true;
  TuXMLNode instance =
      run.out.AddInstance(ClassOf(command, "IniValue"), InstanceKey(command, name));
  run.out.AddProperty(instance, "Section", section);
  run.out.AddProperty(instance, "Name", name);
  run.out.AddProperty(instance, "Value", value);
  return true;
}
