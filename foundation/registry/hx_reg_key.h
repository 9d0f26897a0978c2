// HxRegKey and HxRegVal: small classes for reading any part of the registry. Failures are traced
// at category 4 (registry tree) and reported as false.
#pragma once
#include <cstdint>
#include <vector>

#include "foundation/strings/hx_str.h"
#include "platform/registry.h"

class HxRegKey {
 public:
  // The access mask a closed key reports.
  static constexpr uint32_t kClosedAccess = 9;

  // A key below a predefined root (kHkeyLocalMachine, ...).
  explicit HxRegKey(uint32_t parentRoot = platform::kHkeyLocalMachine);
  // A key below another open key, which must outlive this one.
  explicit HxRegKey(const HxRegKey* parent);
  ~HxRegKey();
  HxRegKey(const HxRegKey&) = delete;
  HxRegKey& operator=(const HxRegKey&) = delete;

  // Closes a key already open, then opens (or with `create`, creates) path under the parent.
  bool Open(const char* path, uint32_t access, bool create = false);
  bool Close();

  bool IsOpen() const { return m_open; }
  const HxStr& Path() const { return m_path; }
  uint32_t Access() const { return m_access; }
  const platform::RegistryKey& Key() const { return m_key; }

 private:
  bool m_open = false;
  uint32_t m_parentRoot = platform::kHkeyLocalMachine;
  const HxRegKey* m_parent = nullptr;
  platform::RegistryKey m_key;
  HxStr m_path;
  uint32_t m_access = kClosedAccess;
};

class HxRegVal {
 public:
  // Reads values of `key`, which must outlive this object.
  explicit HxRegVal(const HxRegKey& key) : m_key(&key) {}

  // Reads the value's type and data; false (and traced) when it cannot be read.
  bool Query(const char* name);
  // True only for a REG_DWORD value: its 4 bytes.
  bool GetDword(uint32_t& out) const;

  bool Found() const { return m_found; }
  uint32_t Type() const { return m_type; }
  uint32_t Size() const { return m_size; }
  // Size() bytes followed by one zero byte, so a text value reads as a C string.
  const uint8_t* Data() const { return m_data.data(); }
  const char* Text() const { return reinterpret_cast<const char*>(m_data.data()); }

 private:
  bool m_found = false;
  const HxRegKey* m_key;
  uint32_t m_type = platform::kRegNone;
  uint32_t m_size = 0;
  std::vector<uint8_t> m_data = std::vector<uint8_t>(1, 0);
};
