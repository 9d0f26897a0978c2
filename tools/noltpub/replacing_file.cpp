#include "replacing_file.h"

#include <system_error>
#include <utility>

#include "platform/files.h"

ReplacingFile::ReplacingFile(std::string target) : m_target(std::move(target)) {}

ReplacingFile::~ReplacingFile() {
  if (m_stream != nullptr) std::fclose(m_stream);
  if (!m_committed && !m_temp.empty()) platform::DeleteFile(m_temp);
}

bool ReplacingFile::Create() {
  std::string directory = platform::DirectoryOf(m_target);
  if (directory.empty()) directory = "./";
  return platform::CreateTempFile(directory, ".noltpub", m_temp);
}

bool ReplacingFile::OpenStream() {
  m_stream = m_temp.empty() ? nullptr : std::fopen(m_temp.c_str(), "wb");
  return m_stream != nullptr;
}

bool ReplacingFile::Write(const void* bytes, size_t size) {
  return m_stream != nullptr && std::fwrite(bytes, 1, size, m_stream) == size;
}

bool ReplacingFile::Commit(std::filesystem::perms permissions) {
  if (m_stream != nullptr) {
    const bool closed = std::fclose(m_stream) == 0;
    m_stream = nullptr;
    if (!closed) return false;
  }
  std::error_code error;
  std::filesystem::permissions(m_temp, permissions, error);
  if (error || !platform::ReplaceFile(m_temp, m_target)) return false;
  m_committed = true;
  return true;
}
