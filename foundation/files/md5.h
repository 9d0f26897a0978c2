// MD5 digests and their text form: 32 lower-case hexadecimal digits (through libcrypto).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything updated so far; the object must not be updated afterwards.
  std::array<uint8_t, 16> Finish();
  // Finish, as 32 lower-case hexadecimal digits.
  std::string FinishHex();

 private:
  struct evp_md_ctx_st* context_;
};

std::string Md5Hex(const void* data, size_t size);
