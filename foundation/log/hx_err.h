// HxErr: one recorded error, its code and its message.
#pragma once
#include <cstdint>

#include "foundation/strings/hx_str.h"

class HxErr {
 public:
  HxErr() = default;
  HxErr(uint32_t code, const HxStr& message) : m_code(code), m_message(message) {}

  uint32_t Code() const { return m_code; }
  const HxStr& Message() const { return m_message; }

 private:
  uint32_t m_code = 0;
  HxStr m_message;
};
