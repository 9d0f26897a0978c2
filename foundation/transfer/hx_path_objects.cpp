#include "foundation/transfer/hx_path_objects.h"

#include <string>

#include "platform/files.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string Local(const HxStr& path) { return std::string(ToLocalPath(path)); }

}  // namespace

HxUncObject::HxUncObject(HxLocationParts location)
    : HxRemoteObject(std::move(location)), m_localPath(ToLocalPath(m_location.location)) {}

HxUncObject::HxUncObject(HxLocationParts location, HxStr localPath)
    : HxRemoteObject(std::move(location)), m_localPath(std::move(localPath)) {}

bool HxUncObject::Delete() {
  const std::string path(m_localPath);
  return !platform::PathExists(path) || platform::DeleteFile(path);
}

bool HxUncObject::GetSize(uint64_t& size) {
  return platform::GetFileSize(std::string(m_localPath), size);
}

bool HxUncObject::Exists() { return platform::PathExists(std::string(m_localPath)); }

bool HxUncObject::GetLastWriteTime(uint64_t& fileTime) {
  return platform::GetLastWriteTime(std::string(m_localPath), fileTime);
}

bool HxUncObject::UploadFilePost(const HxStr& localFile) { return UploadFilePut(localFile); }

bool HxUncObject::UploadFilePut(const HxStr& localFile) {
  return platform::CopyFileReplace(Local(localFile), std::string(m_localPath));
}

bool HxUncObject::GetFile(const HxStr& target, const char*) {
  return platform::CopyFileReplace(std::string(m_localPath), Local(target));
}

int HxUncObject::GetFileIfNewer(const HxStr& target) {
  const std::string source(m_localPath);
  const std::string local = Local(target);
  uint64_t sourceTime = 0, targetTime = 0, sourceSize = 0, targetSize = 0;
  if (platform::GetLastWriteTime(local, targetTime) && platform::GetFileSize(local, targetSize) &&
      platform::GetLastWriteTime(source, sourceTime) && platform::GetFileSize(source, sourceSize) &&
      sourceTime <= targetTime && sourceSize == targetSize) {
    return 2;
  }
  return platform::CopyFileReplace(source, local) ? 1 : 0;
}

HxStr HxUncObject::GetLocalCopy() { return m_localPath; }

HxFileObject::HxFileObject(HxLocationParts location)
    : HxUncObject(location, LocalPathOf(location.location)) {}

HxStr HxFileObject::LocalPathOf(std::string_view location) {
  constexpr std::string_view kProtocol = "file:";
  if (location.size() >= kProtocol.size()) location.remove_prefix(kProtocol.size());
  const auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
  if (location.size() >= 2 && isSeparator(location[0]) && isSeparator(location[1])) {
    location.remove_prefix(2);
    location.remove_prefix(std::min(location.find_first_of("/\\"), location.size()));
  }
  return ToLocalPath(PercentDecoded(location));
}
