#include "noltsync/zipcatalog/file_md5.h"

#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/files/md5.h"
#include "platform/file_system.h"

HxStr FileMd5(std::string_view path) {
  platform::ReadOnlyMapping mapping;
  if (!mapping.Open(LocalPath(path))) return HxStr(kNoFileMd5);
  Md5 md5;
  md5.Update(mapping.Data(), mapping.Size());
  return HxStr(md5.FinishHex());
}
