// The signed manifest without its credentials header: where the header ends, and the copy of
// what follows it over the local manifest.
#include <cstdio>
#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/log/host_logger.h"
#include "net/signing/signed_data.h"
#include "noltsync/updater/nolt_updater.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace {

constexpr size_t kCopyBlock = 4096;
constexpr long kByteOrderMarkLength = 3;

bool StartsWithByteOrderMark(std::FILE* file) {
  unsigned char mark[kByteOrderMarkLength] = {};
  return std::fread(mark, 1, sizeof mark, file) == sizeof mark && mark[0] == 0xEF &&
         mark[1] == 0xBB && mark[2] == 0xBF;
}

}  // namespace

bool NoltUpdater::SeekEndOfCredentials(std::FILE* file, bool byteOrderMark) {
  if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0) return false;
  HeaderEndScanner scanner;
  char block[kSignedContentBlock];
  long offset = 0;
  for (;;) {
    const size_t got = std::fread(block, 1, sizeof block, file);
    if (got == 0) return false;
    size_t length = got;
    const bool ended = scanner.Scan(std::string_view(block, got), length);
    offset += static_cast<long>(length);
    if (ended) break;
  }
  return std::fseek(file, byteOrderMark ? kByteOrderMarkLength : offset, SEEK_SET) == 0;
}

int NoltUpdater::ReplaceManifest(const HxStr& source, const HxStr& destination) {
  const std::string sourcePath = LocalPath(source);
  std::FILE* in = std::fopen(sourcePath.c_str(), "rb");
  if (in == nullptr) {
    HostLog(kLogError, "Failed to read downloaded manifest: %s\n", source.c_str());
    return updater_status::kManifestCopyFailed;
  }
  if (!SeekEndOfCredentials(in, StartsWithByteOrderMark(in))) {
    std::fclose(in);
    platform::DeleteFile(sourcePath);
    HostLog(kLogError, "Failed to seek end of credentials: %s\n", source.c_str());
    return updater_status::kManifestCopyFailed;
  }
  // The local manifest is replaced only by a whole copy.
  platform::ReplacingFileWriter out;
  if (!out.Open(LocalPath(destination))) {
    std::fclose(in);
    HostLog(kLogError, "Failed to open local manifest for writing: %s\n", destination.c_str());
    return updater_status::kManifestCopyFailed;
  }
  char block[kCopyBlock];
  bool whole = true;
  for (size_t got; whole && (got = std::fread(block, 1, sizeof block, in)) > 0;) {
    whole = out.Write(block, got);
  }
  whole = whole && std::ferror(in) == 0;
  std::fclose(in);
  if (whole && out.Commit()) {
    platform::DeleteFile(sourcePath);
  } else {
    // The previous manifest stays; the parse that follows works from it.
    out.Abandon();
    HostLog(kLogError, "** Failed to write local manifest: %s **\n", destination.c_str());
  }
  return updater_status::kSuccess;
}
