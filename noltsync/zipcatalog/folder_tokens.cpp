#include "noltsync/zipcatalog/folder_tokens.h"

#include "foundation/context/directory_layout.h"
#include "foundation/context/hx_macro.h"
#include "foundation/context/system_folders.h"

namespace {

// Folders that are names rather than directories, or that repeat another folder's path.
bool IsPathFolder(int number) {
  return number != 23 && number != 24 && number != 25 && number != 26 && number != 28;
}

// Every well-known folder that names a rooted directory, token to local path.
HxMacro FolderMacros() {
  HxMacro macros;
  for (int number = 0; number < kSystemFolderCount; ++number) {
    if (!IsPathFolder(number)) continue;
    const std::string path = LocalPath(GetSystemFolder(number));
    if (path.size() < 2 || path.front() != '/') continue;  // never a bare root
    macros.Put(HxStr(SystemFolderToken(number)), HxStr(path));
  }
  return macros;
}

HxStr Convert(std::string_view input, bool reverse) {
  HxStr output;
  FolderMacros().Expand(input, output, reverse);
  return output;
}

}  // namespace

HxStr ToFolderTokens(std::string_view path) { return Convert(path, true); }

HxStr FromFolderTokens(std::string_view text) { return Convert(text, false); }
