#include "platform/locations.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/registry.h"
#include "platform/sandbox.h"

namespace platform {

namespace {

constexpr const char* kMachineState = "/var/lib/tidesync";

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? WithoutTrailingSlash(value) : std::string();
}

std::string HomeDirectory() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return WithoutTrailingSlash(found->pw_dir);
  }
  return "/";
}

// An XDG base directory: the variable when set, else the default below the home directory.
std::string XdgDirectory(const char* variable, const char* belowHome) {
  std::string directory = Environment(variable);
  return directory.empty() ? WithoutTrailingSlash(HomeDirectory() + belowHome) : directory;
}

// DIR/users/NAME of the process user in a sandbox.
std::string SandboxUserDirectory() { return SandboxRoot() + "/users/" + ProcessUserName(); }

}  // namespace

std::string MachineHivePath() {
  std::string root = SandboxRoot();
  return (root.empty() ? std::string(kMachineState) : root + "/machine") + "/registry/machine.db";
}

std::string UserHivePath() {
  if (InSandbox()) return SandboxUserDirectory() + "/registry/user.db";
  return XdgDirectory("XDG_DATA_HOME", "/.local/share") + "/tidesync/registry/user.db";
}

std::string CommonAppDataDirectory() {
  std::string root = SandboxRoot();
  return root.empty() ? std::string(kMachineState) + "/common" : root + "/machine/common";
}

std::string LocalAppDataDirectory() {
  if (InSandbox()) return SandboxUserDirectory() + "/local";
  return XdgDirectory("XDG_DATA_HOME", "/.local/share");
}

std::string RoamingAppDataDirectory() {
  if (InSandbox()) return SandboxUserDirectory() + "/roaming";
  return XdgDirectory("XDG_CONFIG_HOME", "/.config");
}

std::string ProgramFilesDirectory() {
  std::string root = SandboxRoot();
  return root.empty() ? "/opt" : root + "/machine/opt";
}

std::string WindowsDirectory() { return CommonAppDataDirectory() + "/Windows"; }

std::string SystemDirectory() { return WindowsDirectory() + "/System32"; }

std::string PendingOperationsPath() {
  std::string root = SandboxRoot();
  return root.empty() ? std::string(kMachineState) + "/pending-operations"
                      : root + "/machine/pending-operations";
}

std::string PipeDirectory() {
  if (InSandbox()) return SandboxRoot() + "/run/" + ProcessUserName();
  std::string runtime = Environment("XDG_RUNTIME_DIR");
  return runtime.empty() ? "/tmp/tidesync-" + std::to_string(geteuid()) : runtime + "/tidesync";
}

std::string MachineKeyDirectory() {
  std::string root = SandboxRoot();
  return (root.empty() ? std::string(kMachineState) : root + "/machine") + "/keys";
}

std::string UserKeyDirectory() { return RoamingAppDataDirectory() + "/tidesync/keys"; }

std::vector<ShellFolderValue> ShellFolderValues(bool machineHive) {
  const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  std::vector<std::pair<std::string, std::string>> folders;
  std::vector<ShellFolderValue> values;
  if (machineHive) {
    std::string common = CommonAppDataDirectory();
    folders = {{"Common AppData", common},
               {"Common Desktop", common + "/Desktop"},
               {"Common Start Menu", common + "/Start Menu"},
               {"Common Programs", common + "/Start Menu/Programs"},
               {"Common Startup", common + "/Start Menu/Programs/Startup"}};
    const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion";
    const std::string ntVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    // The system drive prefixes rooted paths: nothing on a real machine, the sandbox in one.
    values = {{version, "ProgramFilesDir", kRegSz, ProgramFilesDirectory()},
              {version, "CommonFilesDir", kRegSz, ProgramFilesDirectory() + "/Common Files"},
              {ntVersion, "SystemRoot", kRegSz, WindowsDirectory()},
              {ntVersion, "SystemDrive", kRegSz, SandboxRoot()}};
  } else {
    std::string local = LocalAppDataDirectory();
    folders = {{"AppData", RoamingAppDataDirectory()},
               {"Local AppData", local},
               {"Desktop", local + "/Desktop"},
               {"Favorites", local + "/Favorites"},
               {"Fonts", WindowsDirectory() + "/Fonts"},
               {"NetHood", local + "/NetHood"},
               {"Personal", local + "/Personal"},
               {"Recent", local + "/Recent"},
               {"SendTo", local + "/SendTo"},
               {"Templates", local + "/Templates"},
               {"Start Menu", local + "/Start Menu"},
               {"Programs", local + "/Start Menu/Programs"},
               {"Startup", local + "/Start Menu/Programs/Startup"}};
  }
  for (const auto& [name, path] : folders) {
    values.push_back({explorer + "Shell Folders", name, kRegSz, path});
    values.push_back({explorer + "User Shell Folders", name, kRegExpandSz, path});
  }
  return values;
}

}  // namespace platform
