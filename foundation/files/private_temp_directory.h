// A temporary directory that only this process's account can use, for work on files that must
// not be swapped or read by others while they are checked (the service runs as root in a
// temporary root every account may write). It is made new, never reused, and removed with all
// its content when the object goes away.
#pragma once
#include <cstdint>
#include <string_view>

#include "foundation/strings/hx_str.h"

class PrivateTempDirectory {
 public:
  // How many names Create tries before it gives up.
  static constexpr int kMaxAttempts = 16;

  PrivateTempDirectory() = default;
  ~PrivateTempDirectory();
  PrivateTempDirectory(const PrivateTempDirectory&) = delete;
  PrivateTempDirectory& operator=(const PrivateTempDirectory&) = delete;

  // Makes "<root><stem>_<n>\" (n from 0 to 32767, drawn by a generator seeded with `seed`) with
  // a single private mkdir; a name where anything exists already (a directory, a file, a link)
  // is passed over for the next number. `root` (ending in a separator) is made with its parents
  // when missing. False, with the last name tried in Path(), when no attempt succeeded.
  bool Create(std::string_view root, std::string_view stem, uint32_t seed);

  // The directory, ending in a backslash (the last name tried when Create failed).
  const HxStr& Path() const { return m_path; }
  bool Exists() const { return m_created; }

  // Removes the directory with everything in it (links are removed, never followed). True when
  // it is gone; nothing is done for a directory this object did not make.
  bool Remove();

 private:
  HxStr m_path;
  bool m_created = false;
};
