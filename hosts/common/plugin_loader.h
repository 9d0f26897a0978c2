// Loads the plug-in and looks up its nine entry points by name, as every host does.
#pragma once
#include <string>

#include "noltsync/entry/modlet_api.h"
#include "platform/library.h"

struct ModletApi {
  ModletInitFn init = nullptr;
  ModletInitContextFn initContext = nullptr;
  ModletGetPropertyFn getProperty = nullptr;
  ModletSetPropertyFn setProperty = nullptr;
  ModletStartFn start = nullptr;
  ModletStopFn stop = nullptr;
  ModletGetStateFn getState = nullptr;
  ModletDisposeContextFn disposeContext = nullptr;
  ModletDisposeFn dispose = nullptr;
};

// False with a reason when the library does not load or lacks an entry point.
bool LoadModletApi(platform::SharedLibrary& library, const std::string& path, ModletApi& api,
                   std::string& reason);

// The default plug-in location: ../lib/libnoltsync.so beside the running executable.
std::string DefaultPluginPath();
