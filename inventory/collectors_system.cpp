// EnvEnum, LogicalDiskEnum and AppEnum: the environment, mounted disks and installed packages.
#include <filesystem>
#include <fstream>
#include <string>

#include "inventory/collectors.h"

namespace {

// Mount table fields escape blanks and backslashes as three octal digits ("\040").
std::string UnescapeMountField(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

struct Package {
  std::string name, version, architecture, status;
};

void EmitPackage(const Package& package, const HxStr& className, HarvestRun& run) {
  // "install ok installed": only packages whose files are in place count.
  bool installed = package.status.size() >= 10 &&
                   package.status.compare(package.status.size() - 10, 10, " installed") == 0;
  if (package.name.empty() || !installed) return;
  TuXMLNode instance = run.out.AddInstance(className, package.name);
  run.out.AddProperty(instance, "Name", package.name);
  run.out.AddProperty(instance, "Version", package.version);
  run.out.AddProperty(instance, "Architecture", package.architecture);
}

}  // namespace

bool CollectEnvironment(const TuXMLNode& command, HarvestRun& run, HxStr&) {
  HxStr className = ClassOf(command, "Environment");
  HxStr pattern = command.GetAttributeValue("NAME");
  for (const auto& [name, value] : run.system.Environment()) {
    if (!pattern.IsEmpty() && !HxStr(name).MatchNoCase(pattern.c_str())) continue;
    TuXMLNode instance = run.out.AddInstance(className, name);
    run.out.AddProperty(instance, "Name", name);
    run.out.AddProperty(instance, "Value", value);
  }
  return true;
}

bool CollectLogicalDisks(const TuXMLNode& command, HarvestRun& run, HxStr&) {
  HxStr className = ClassOf(command, "LogicalDisk");
  std::ifstream table(run.system.MountTablePath());
  std::string device, mountPoint, type, rest;
  while (table >> device >> mountPoint >> type) {
    std::getline(table, rest);
    // Block devices only: pseudo file systems name no device path.
    if (device.empty() || device[0] != '/') continue;
    std::string path = UnescapeMountField(mountPoint);
    std::error_code error;
    std::filesystem::space_info space = std::filesystem::space(path, error);
    if (error) continue;
    TuXMLNode instance = run.out.AddInstance(className, path);
    run.out.AddProperty(instance, "MountPoint", path);
    run.out.AddProperty(instance, "Device", UnescapeMountField(device));
    run.out.AddProperty(instance, "FileSystem", type);
    run.out.AddProperty(instance, "Size", DecimalText(space.capacity));
    run.out.AddProperty(instance, "FreeSpace", DecimalText(space.available));
  }
  return true;
}

bool CollectApplications(const TuXMLNode& command, HarvestRun& run, HxStr&) {
  HxStr className = ClassOf(command, "Application");
  std::ifstream database(run.system.PackageDatabasePath());
  Package package;
  std::string line;
  while (std::getline(database, line)) {
    if (line.empty()) {
      EmitPackage(package, className, run);
      package = Package();
      continue;
    }
    if (line[0] == ' ' || line[0] == '\t') continue;  // a multi-line field's continuation
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string field = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (field == "Package") package.name = value;
    else if (field == "Version") package.version = value;
    else if (field == "Architecture") package.architecture = value;
    else if (field == "Status") package.status = value;
  }
  EmitPackage(package, className, run);
  return true;
}
