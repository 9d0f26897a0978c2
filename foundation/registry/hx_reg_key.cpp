#include "foundation/registry/hx_reg_key.h"

#include <cstring>
#include <utility>

#include "foundation/log/hx_trace.h"
#include "platform/errors.h"

HxRegKey::HxRegKey(uint32_t parentRoot) : m_parentRoot(parentRoot) {}

HxRegKey::HxRegKey(const HxRegKey* parent) : m_parent(parent) {}

HxRegKey::~HxRegKey() {
  if (m_open) Close();
}

bool HxRegKey::Open(const char* path, uint32_t access, bool create) {
  if (m_open) Close();
  const char* subKey = path == nullptr ? "" : path;
  uint32_t code = platform::kErrorInvalidHandle;
  if (m_parent == nullptr) {
    code = create ? m_key.Create(m_parentRoot, subKey, access)
                  : m_key.Open(m_parentRoot, subKey, access);
  } else if (m_parent->IsOpen()) {
    code = create ? m_key.Create(m_parent->Key(), subKey, access)
                  : m_key.Open(m_parent->Key(), subKey, access);
  }
  if (code != platform::kErrorSuccess) {
    HxTrace::Instance().TraceL1(kTraceRegistry, "   REGTREE: ERROR RegOpenKeyEx failed!: %s %d\n",
                                subKey, static_cast<int>(code));
    return false;
  }
  m_open = true;
  m_path = subKey;
  m_access = access;
  return true;
}

bool HxRegKey::Close() {
  if (!m_open) {
    // Closing a key that is not open fails as closing an invalid handle does.
    HxTrace::Instance().TraceL1(kTraceRegistry, "   REGTREE: ERROR RegCloseKey failed!: %d\n",
                                static_cast<int>(platform::kErrorInvalidHandle));
    return false;
  }
  m_key.Close();
  m_open = false;
  m_access = kClosedAccess;
  return true;
}

bool HxRegVal::Query(const char* name) {
  m_found = false;
  m_type = platform::kRegNone;
  m_size = 0;
  m_data.assign(1, 0);
  const char* valueName = name == nullptr ? "" : name;
  uint32_t code = platform::kErrorInvalidHandle;
  uint32_t size = 0;
  if (m_key->IsOpen()) code = m_key->Key().QueryValue(valueName, nullptr, nullptr, &size);
  std::vector<uint8_t> data(size + 1, 0);
  uint32_t type = platform::kRegNone;
  if (code == platform::kErrorSuccess) {
    code = m_key->Key().QueryValue(valueName, &type, data.data(), &size);
  }
  if (code != platform::kErrorSuccess) {
    HxTrace::Instance().TraceL1(kTraceRegistry, "   REGTREE: ERROR RegQueryValueEx failed!: %d\n",
                                static_cast<int>(code));
    return false;
  }
  data.resize(size + 1);
  m_data = std::move(data);
  m_type = type;
  m_size = size;
  m_found = true;
  return true;
}

bool HxRegVal::GetDword(uint32_t& out) const {
  if (!m_found || m_type != platform::kRegDword || m_size < sizeof out) return false;
  std::memcpy(&out, m_data.data(), sizeof out);
  return true;
}
