#include "hosts/common/plugin_loader.h"

#include "platform/process.h"

namespace {

template <typename Fn>
bool Bind(const platform::SharedLibrary& library, const char* name, Fn& target,
          std::string& reason) {
  target = reinterpret_cast<Fn>(library.Symbol(name));
  if (target == nullptr) reason = std::string("the plug-in does not export ") + name;
  return target != nullptr;
}

}  // namespace

bool LoadModletApi(platform::SharedLibrary& library, const std::string& path, ModletApi& api,
                   std::string& reason) {
  if (!library.Load(path)) {
    reason = library.Error();
    return false;
  }
  return Bind(library, "ModletInit", api.init, reason) &&
         Bind(library, "ModletInitContext", api.initContext, reason) &&
         Bind(library, "ModletGetProperty", api.getProperty, reason) &&
         Bind(library, "ModletSetProperty", api.setProperty, reason) &&
         Bind(library, "ModletStart", api.start, reason) &&
         Bind(library, "ModletStop", api.stop, reason) &&
         Bind(library, "ModletGetState", api.getState, reason) &&
         Bind(library, "ModletDisposeContext", api.disposeContext, reason) &&
         Bind(library, "ModletDispose", api.dispose, reason);
}

std::string DefaultPluginPath() {
  std::string executable = platform::HostExecutablePath();
  std::string::size_type slash = executable.find_last_of('/');
  std::string directory = slash == std::string::npos ? "." : executable.substr(0, slash);
  return directory + "/../lib/libnoltsync.so";
}
