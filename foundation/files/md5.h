// MD5 digests (RFC 1321) and their text form: 32 lower-case hexadecimal digits.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // The digest of everything updated so far; the object must not be updated afterwards.
  std::array<uint8_t, 16> Finish();
  // Finish, as 32 lower-case hexadecimal digits.
  std::string FinishHex();

 private:
  void Transform(const uint8_t* block);

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes
  uint8_t buffer_[64];
};

std::string Md5Hex(const void* data, size_t size);
